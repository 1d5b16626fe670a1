// Reading the board EEPROM and decoding its tuner code into a model name.
#include "config/TunerEeprom.h"

#include "platform/Kernel.h"

TunerEeprom::TunerEeprom(I2cClient* client)
{
    Valid = 0;
    Client = client;
    ReadEeprom();
}

bool TunerEeprom::ReadEeprom()
{
    Valid = 1;
    bool lastRead = false;
    for (uint32_t i = 0; i < EepromByteCount; ++i) {
        lastRead = Client->ReadRegisters(1, &EepromOffsets[i], &Bytes[i]);
        if (!lastRead) Valid = 0;
    }
    return lastRead;
}

namespace {

uint8_t RemapCode(uint8_t code)
{
    for (const EepromCodePair& pair : EepromRemap) {
        if (pair.Read == code) return pair.Used;
    }
    return code;
}

void ApplyOverride(const EepromNameOverride* table, uint32_t count, uint8_t code, WCHAR* destination)
{
    for (uint32_t i = 0; i < count; ++i) {
        if (table[i].Code == code) wcscpy(destination, table[i].Name);
    }
}

}  // namespace

bool TunerEeprom::DecodeModelName(WCHAR* destination) const
{
    if (!Valid) return false;
    const uint8_t marker = Bytes[EepromLayoutMarker];
    uint8_t code = Bytes[EepromTunerCode];
    if (marker == LayoutRemapped && Bytes[EepromRemapGate] < RemapGateLimit) code = RemapCode(code);

    int32_t index = (code >> 4) + 4 * (code & 0x0F) - 4;
    if (index < 0 || index >= static_cast<int32_t>(EepromNameCount)) index = 0;
    wcscpy(destination, EepromModelNames[index]);

    if (marker == LayoutMarker3) ApplyOverride(EepromMarker3Names, EepromMarker3Count, code, destination);
    if (marker == LayoutMarker4) ApplyOverride(EepromMarker4Names, EepromMarker4Count, code, destination);
    return true;
}
