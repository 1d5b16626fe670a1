// Building the tuner object in its slot of the device extension from the
// device's registry key and, where the registry names one, the board EEPROM.
#include "config/RegistryValues.h"
#include "config/TunerEeprom.h"
#include "tuner/Memory.h"
#include "tuner/ModelNames.h"
#include "tuner/TunerDevice.h"

namespace {

constexpr ACCESS_MASK KeyAccess = GENERIC_READ | GENERIC_WRITE;
constexpr uint32_t ValueChars = RegistryValueBytes / sizeof(WCHAR);

// What the registry and the EEPROM say, before any of it reaches the object.
struct Configuration {
    uint32_t Model;
    uint8_t TunerAddress;
    uint32_t InterCarrierMode;
    uint32_t DefaultStandard;  // 0 when missing or not a number
};

template <size_t NameChars>
NTSTATUS ReadValue(HANDLE key, const WCHAR (&name)[NameChars], WCHAR* buffer)
{
    return ReadRegistryValue(key, name, NameChars * sizeof(WCHAR), buffer, RegistryValueBytes);
}

bool Fail(uint32_t* code)
{
    *code = ConstructionRegistryFailure;
    return false;
}

bool FindModel(const WCHAR* name, uint32_t* model)
{
    for (uint32_t i = 0; i < TunerModelCount; ++i) {
        if (EqualNameNoCase(name, TunerModelNames[i])) {
            *model = i;
            return true;
        }
    }
    return false;
}

// Reads everything the construction needs from the open key. On failure the
// code says why, except when the EEPROM did not answer: then it is left as
// the caller preset it.
bool ReadConfiguration(HANDLE key, I2cClient* client, Configuration* config, uint32_t* code)
{
    WCHAR value[ValueChars];
    WCHAR name[ValueChars];
    uint32_t number = 0;

    const NTSTATUS eepromAddress = ReadValue(key, u"EEPROMAddr", value);
    if (eepromAddress == STATUS_SUCCESS) {
        if (!ParseInteger(value, &number)) return Fail(code);
        client->SetAddress(static_cast<uint8_t>(number));
        TunerEeprom eeprom(client);
        if (!eeprom.DecodeModelName(name)) return false;
    } else if (eepromAddress == STATUS_OBJECT_NAME_NOT_FOUND) {
        if (!NT_SUCCESS(ReadValue(key, u"TunerType", name))) return Fail(code);
    } else {
        return Fail(code);
    }

    // Address 0 is the bus's general call, never a tuner.
    if (!NT_SUCCESS(ReadValue(key, u"Address", value)) || !ParseInteger(value, &number) || (number & 0xFF) == 0) {
        return Fail(code);
    }
    config->TunerAddress = static_cast<uint8_t>(number);

    const NTSTATUS carrierMode = ReadValue(key, u"InterCarrierMode", value);
    if (carrierMode == STATUS_SUCCESS) {
        if (!ParseInteger(value, &config->InterCarrierMode)) return Fail(code);
    } else if (carrierMode == STATUS_OBJECT_NAME_NOT_FOUND) {
        config->InterCarrierMode = 0;
    } else {
        return Fail(code);
    }

    if (!FindModel(name, &config->Model)) return Fail(code);

    if (!NT_SUCCESS(ReadValue(key, u"DefaultStandard", value)) || !ParseInteger(value, &config->DefaultStandard)) {
        config->DefaultStandard = 0;
    }
    return true;
}

// A model with one catalogue standard starts with its whole mask; any other
// starts with the configured standard when that is a single standard the
// model supports, else with the lowest standard it supports.
uint32_t FirstStandard(const TunerDevice& tuner)
{
    const uint32_t supported = tuner.TvCaps.StandardsSupported;
    if (tuner.StandardCount == 1) return supported;
    const uint32_t configured = tuner.DefaultStandard;
    const bool single = configured != 0 && (configured & (configured - 1)) == 0;
    if (single && (configured & supported) != 0) return configured;
    return supported & (0u - supported);
}

void* AllocateArray(uint32_t bytes)
{
    void* block = ExAllocatePoolWithTag(NonPagedPool, bytes, DriverPoolTag);
    if (block != nullptr) __builtin_memset(block, 0, bytes);
    return block;
}

}  // namespace

TunerDevice::TunerDevice(DEVICE_OBJECT* registryDevice, I2cClient* client, uint32_t* code)
{
    LoadTunerConfiguration(registryDevice, client, code);
}

void TunerDevice::LoadTunerConfiguration(DEVICE_OBJECT* registryDevice, I2cClient* client, uint32_t* code)
{
    AgcState = 0;
    RegistryDeviceObject = registryDevice;
    PowerState = PowerDeviceD0;
    StandardChanged = 0;
    HasAuxiliaryByte = 0;
    AgcTickCount = 0;
    MapNtscToPalB = 0;
    AgcTimer = nullptr;
    Mediums = nullptr;
    PinDirections = nullptr;
    if (client == nullptr) {
        *code = ConstructionNoClient;
        return;
    }

    HANDLE key = nullptr;
    if (!NT_SUCCESS(IoOpenDeviceRegistryKey(registryDevice, PLUGPLAY_REGKEY_DRIVER, KeyAccess, &key))) {
        *code = ConstructionRegistryFailure;
        return;
    }
    Configuration config = {};
    const bool configured = ReadConfiguration(key, client, &config, code);
    ZwClose(key);
    if (!configured) return;

    TunerAddress = config.TunerAddress;
    InterCarrierMode = config.InterCarrierMode;
    Model = config.Model;
    DefaultStandard = config.DefaultStandard;
    Client = client;

    if (!ConfigureModel(Model) || PinCount == 0) {
        *code = ConstructionCatalogueFailure;
        return;
    }
    Mediums = static_cast<KSPIN_MEDIUM*>(AllocateArray(PinCount * sizeof(KSPIN_MEDIUM)));
    if (Mediums != nullptr) PinDirections = static_cast<BOOL*>(AllocateArray(PinCount * sizeof(BOOL)));
    if (PinDirections == nullptr) {
        *code = ConstructionNoMemory;
        return;
    }
    BuildPropertyTable();
    BuildTopology();

    client->SetAddress(TunerAddress);
    CurrentFrequency = 0;
    CurrentStandard = FirstStandard(*this);
    SetVideoStandard(CurrentStandard);
    CurrentInput = 0;
    *code = ConstructionOk;
}
