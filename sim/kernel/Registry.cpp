// The registry as the driver sees it: device keys opened with
// IoOpenDeviceRegistryKey, values read with ZwQueryValueKey in the records
// and with the too-small answers of the real kernel, handles closed with
// ZwClose.
#include "sim/Registry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>

#include "sim/Kernel.h"

namespace sim {
namespace {

constexpr NTSTATUS StatusInvalidHandle = static_cast<NTSTATUS>(0xC0000008u);
constexpr ULONG HardwareProfileFlag = 4;  // PLUGPLAY_REGKEY_CURRENT_HWPROFILE

struct Value {
    std::u16string Name;  // as stored; looked up without regard to case
    ULONG Type;
    std::vector<uint8_t> Data;
};

using KeyId = std::pair<DEVICE_OBJECT*, ULONG>;

struct Registry {
    std::mutex Mutex;
    std::map<KeyId, std::vector<Value>> Keys;
    std::map<uintptr_t, KeyId> Handles;
    uintptr_t NextHandle = 0x80000004u;  // kernel handles: multiples of 4 with the top bit set
    std::map<DEVICE_OBJECT*, NTSTATUS> OpenFaults;
    std::vector<std::tuple<DEVICE_OBJECT*, std::u16string, NTSTATUS>> QueryFaults;
    std::vector<RegistryKeyOpen> Opens;
    std::vector<std::u16string> Queries;
};

char16_t Upcase(char16_t c)
{
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    return c;
}

bool SameName(const std::u16string& a, const std::u16string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Upcase(a[i]) != Upcase(b[i])) return false;
    }
    return true;
}

std::string Narrow(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text) out += (c < 0x80) ? static_cast<char>(c) : '?';
    return out;
}

std::string HandleText(HANDLE handle)
{
    char text[32];
    std::snprintf(text, sizeof text, "%#lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle)));
    return text;
}

void CheckClean();
void ResetRegistry();

Registry& State()
{
    static Registry registry;
    static std::once_flag hooksAdded;
    std::call_once(hooksAdded, [] { AddLifecycleHooks(CheckClean, ResetRegistry); });
    return registry;
}

void CheckClean()
{
    std::vector<std::string> leaks;
    {
        Registry& r = State();
        std::lock_guard<std::mutex> lock(r.Mutex);
        for (const auto& [handle, key] : r.Handles) {
            leaks.push_back("registry key left open: handle " + HandleText(reinterpret_cast<HANDLE>(handle)));
        }
    }
    for (const std::string& message : leaks) ReportViolation(message);
}

void ResetRegistry()
{
    Registry& r = State();
    std::lock_guard<std::mutex> lock(r.Mutex);
    r.Keys.clear();
    r.Handles.clear();
    r.OpenFaults.clear();
    r.QueryFaults.clear();
    r.Opens.clear();
    r.Queries.clear();
}

bool AtPassiveLevel(const char* routine)
{
    if (CurrentIrql() == PASSIVE_LEVEL) return true;
    ReportViolation(std::string(routine) + " called at IRQL " + std::to_string(CurrentIrql()) +
                    " (registry routines need PASSIVE_LEVEL)");
    return false;
}

bool ValidKeyType(ULONG keyType)
{
    ULONG base = keyType & ~HardwareProfileFlag;
    return base == PLUGPLAY_REGKEY_DEVICE || base == PLUGPLAY_REGKEY_DRIVER;
}

std::vector<Value>& KeyOf(Registry& r, DEVICE_OBJECT* device, ULONG keyType)
{
    return r.Keys[KeyId(device, keyType)];
}

void Put(uint8_t* record, size_t offset, ULONG value)
{
    std::memcpy(record + offset, &value, sizeof value);
}

// Writes one of the three records for the value into the caller's buffer.
// Each record has a fixed part; when even that does not fit nothing is
// written, when the rest does not fit the fixed part and as much of the
// name as fits are, and the status says so either way. ResultLength is
// always the size the whole record needs.
NTSTATUS WriteRecord(const Value& value, KEY_VALUE_INFORMATION_CLASS infoClass, uint8_t* buffer, ULONG length,
                     ULONG* resultLength)
{
    const ULONG nameLength = static_cast<ULONG>(value.Name.size() * sizeof(char16_t));
    const ULONG dataLength = static_cast<ULONG>(value.Data.size());
    ULONG fixed = 0;
    ULONG nameOffset = 0;
    ULONG dataOffset = 0;
    ULONG needed = 0;
    switch (infoClass) {
    case KeyValueBasicInformation:  // TitleIndex, Type, NameLength, Name
        fixed = nameOffset = 12;
        needed = fixed + nameLength;
        break;
    case KeyValueFullInformation:  // TitleIndex, Type, DataOffset, DataLength, NameLength, Name, data
        fixed = nameOffset = 20;
        dataOffset = (nameOffset + nameLength + 3) & ~3u;  // the data starts on a 4-byte boundary
        needed = dataOffset + dataLength;
        break;
    case KeyValuePartialInformation:  // TitleIndex, Type, DataLength, Data
        fixed = dataOffset = 12;
        needed = dataOffset + dataLength;
        break;
    default:
        return STATUS_INVALID_PARAMETER;
    }
    *resultLength = needed;
    if (length < fixed) return STATUS_BUFFER_TOO_SMALL;

    Put(buffer, 0, 0);  // TitleIndex
    Put(buffer, 4, value.Type);
    switch (infoClass) {
    case KeyValueBasicInformation:
        Put(buffer, 8, nameLength);
        break;
    case KeyValueFullInformation:
        Put(buffer, 8, dataOffset);
        Put(buffer, 12, dataLength);
        Put(buffer, 16, nameLength);
        break;
    default:
        Put(buffer, 8, dataLength);
        break;
    }
    if (nameOffset != 0) {
        std::memcpy(buffer + nameOffset, value.Name.data(), std::min(nameLength, length - nameOffset));
    }
    if (length < needed) return STATUS_BUFFER_OVERFLOW;
    if (dataOffset != 0 && dataLength != 0) std::memcpy(buffer + dataOffset, value.Data.data(), dataLength);
    return STATUS_SUCCESS;
}

}  // namespace

void SetRegistryValue(DEVICE_OBJECT* device, const std::u16string& name, ULONG type,
                      const std::vector<uint8_t>& data, ULONG keyType)
{
    Registry& r = State();
    std::lock_guard<std::mutex> lock(r.Mutex);
    std::vector<Value>& key = KeyOf(r, device, keyType);
    for (Value& value : key) {
        if (SameName(value.Name, name)) {
            value = Value{name, type, data};
            return;
        }
    }
    key.push_back(Value{name, type, data});
}

void SetRegistryString(DEVICE_OBJECT* device, const std::u16string& name, const std::u16string& text,
                       ULONG keyType)
{
    std::vector<uint8_t> data((text.size() + 1) * sizeof(char16_t), 0);
    std::memcpy(data.data(), text.data(), text.size() * sizeof(char16_t));
    SetRegistryValue(device, name, REG_SZ, data, keyType);
}

void SetRegistryDword(DEVICE_OBJECT* device, const std::u16string& name, uint32_t value, ULONG keyType)
{
    std::vector<uint8_t> data(4);
    for (int i = 0; i < 4; ++i) data[i] = static_cast<uint8_t>(value >> (8 * i));
    SetRegistryValue(device, name, REG_DWORD, data, keyType);
}

void SetRegistryBinary(DEVICE_OBJECT* device, const std::u16string& name, const std::vector<uint8_t>& data,
                       ULONG keyType)
{
    SetRegistryValue(device, name, REG_BINARY, data, keyType);
}

void DeleteRegistryValue(DEVICE_OBJECT* device, const std::u16string& name, ULONG keyType)
{
    Registry& r = State();
    std::lock_guard<std::mutex> lock(r.Mutex);
    std::vector<Value>& key = KeyOf(r, device, keyType);
    std::erase_if(key, [&](const Value& value) { return SameName(value.Name, name); });
}

void DeleteRegistryKeys(DEVICE_OBJECT* device)
{
    Registry& r = State();
    std::lock_guard<std::mutex> lock(r.Mutex);
    std::erase_if(r.Keys, [&](const auto& entry) { return entry.first.first == device; });
    r.OpenFaults.erase(device);
    std::erase_if(r.QueryFaults, [&](const auto& fault) { return std::get<0>(fault) == device; });
}

void FailRegistryKeyOpen(DEVICE_OBJECT* device, NTSTATUS status)
{
    Registry& r = State();
    std::lock_guard<std::mutex> lock(r.Mutex);
    r.OpenFaults[device] = status;
}

void FailRegistryQuery(DEVICE_OBJECT* device, const std::u16string& name, NTSTATUS status)
{
    Registry& r = State();
    std::lock_guard<std::mutex> lock(r.Mutex);
    r.QueryFaults.emplace_back(device, name, status);
}

std::vector<RegistryKeyOpen> RegistryKeyOpens()
{
    Registry& r = State();
    std::lock_guard<std::mutex> lock(r.Mutex);
    return r.Opens;
}

std::vector<std::u16string> RegistryQueries()
{
    Registry& r = State();
    std::lock_guard<std::mutex> lock(r.Mutex);
    return r.Queries;
}

size_t OpenRegistryKeyCount()
{
    Registry& r = State();
    std::lock_guard<std::mutex> lock(r.Mutex);
    return r.Handles.size();
}

}  // namespace sim

using namespace sim;

extern "C" NTSTATUS NTAPI IoOpenDeviceRegistryKey(DEVICE_OBJECT* deviceObject, ULONG devInstKeyType,
                                                  ACCESS_MASK desiredAccess, HANDLE* devInstRegKey)
{
    if (!AtPassiveLevel("IoOpenDeviceRegistryKey")) return STATUS_INVALID_DEVICE_STATE;
    if (deviceObject == nullptr || devInstRegKey == nullptr) {
        ReportViolation("IoOpenDeviceRegistryKey without a device object or a handle to fill");
        return STATUS_INVALID_PARAMETER;
    }
    Registry& r = State();
    std::lock_guard<std::mutex> lock(r.Mutex);
    NTSTATUS status = STATUS_SUCCESS;
    if (!ValidKeyType(devInstKeyType)) {
        status = STATUS_INVALID_PARAMETER;
    } else if (auto fault = r.OpenFaults.find(deviceObject); fault != r.OpenFaults.end()) {
        status = fault->second;
    } else {
        KeyOf(r, deviceObject, devInstKeyType);  // the key exists from now on, empty or not
        uintptr_t handle = r.NextHandle;
        r.NextHandle += 4;
        r.Handles[handle] = KeyId(deviceObject, devInstKeyType);
        *devInstRegKey = reinterpret_cast<HANDLE>(handle);
    }
    r.Opens.push_back(RegistryKeyOpen{deviceObject, devInstKeyType, desiredAccess, status});
    return status;
}

extern "C" NTSTATUS NTAPI ZwQueryValueKey(HANDLE keyHandle, UNICODE_STRING* valueName,
                                          KEY_VALUE_INFORMATION_CLASS keyValueInformationClass,
                                          PVOID keyValueInformation, ULONG length, ULONG* resultLength)
{
    if (!AtPassiveLevel("ZwQueryValueKey")) return STATUS_INVALID_DEVICE_STATE;
    if (valueName == nullptr || resultLength == nullptr || (keyValueInformation == nullptr && length != 0) ||
        (valueName->Buffer == nullptr && valueName->Length != 0)) {
        ReportViolation("ZwQueryValueKey with a missing name, buffer or result length");
        return STATUS_INVALID_PARAMETER;
    }
    std::u16string name(valueName->Buffer, valueName->Length / sizeof(char16_t));
    std::optional<std::string> violation;
    NTSTATUS status = STATUS_SUCCESS;
    {
        Registry& r = State();
        std::lock_guard<std::mutex> lock(r.Mutex);
        auto handle = r.Handles.find(reinterpret_cast<uintptr_t>(keyHandle));
        if (handle == r.Handles.end()) {
            violation = "ZwQueryValueKey on a handle that is not an open key: " + HandleText(keyHandle);
            status = StatusInvalidHandle;
        } else {
            r.Queries.push_back(name);
            const KeyId key = handle->second;
            const Value* found = nullptr;
            for (const Value& value : r.Keys[key]) {
                if (SameName(value.Name, name)) found = &value;
            }
            status = found ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
            for (const auto& [device, faultName, faultStatus] : r.QueryFaults) {
                if (device == key.first && SameName(faultName, name)) status = faultStatus;
            }
            if (status == STATUS_SUCCESS) {
                status = WriteRecord(*found, keyValueInformationClass, static_cast<uint8_t*>(keyValueInformation),
                                     length, resultLength);
            }
        }
    }
    if (violation) ReportViolation(*violation + " (value " + Narrow(name) + ")");
    return status;
}

extern "C" NTSTATUS NTAPI ZwClose(HANDLE handle)
{
    if (!AtPassiveLevel("ZwClose")) return STATUS_INVALID_DEVICE_STATE;
    bool known = false;
    {
        Registry& r = State();
        std::lock_guard<std::mutex> lock(r.Mutex);
        known = r.Handles.erase(reinterpret_cast<uintptr_t>(handle)) == 1;
    }
    if (!known) {
        ReportViolation("ZwClose of a handle that is not open: " + HandleText(handle));
        return StatusInvalidHandle;
    }
    return STATUS_SUCCESS;
}
