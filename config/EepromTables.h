// The board EEPROM's layout and the constant tables that turn its tuner code
// into a model name.
#pragma once

#include "platform/Types.h"

constexpr uint32_t EepromByteCount = 11;
constexpr uint32_t EepromNameCount = 26;
constexpr uint32_t EepromRemapCount = 4;
constexpr uint32_t EepromMarker3Count = 6;
constexpr uint32_t EepromMarker4Count = 10;

// Positions in TunerEeprom::Bytes of the bytes the decoding looks at.
constexpr uint32_t EepromLayoutMarker = 4;  // offset 0x59
constexpr uint32_t EepromRemapGate = 7;     // offset 0x5C
constexpr uint32_t EepromTunerCode = 9;     // offset 0x5E

constexpr uint8_t LayoutRemapped = 0xFF;
constexpr uint8_t LayoutMarker3 = 3;
constexpr uint8_t LayoutMarker4 = 4;
constexpr uint8_t RemapGateLimit = 5;

struct EepromCodePair {
    uint8_t Read;
    uint8_t Used;
};

struct EepromNameOverride {
    uint8_t Code;
    const WCHAR* Name;
};

// The offsets read, in the order of TunerEeprom::Bytes.
extern const uint8_t EepromOffsets[EepromByteCount];
// Model names by tuner code: index 4 * (low nibble - 1) + high nibble.
extern const WCHAR* const EepromModelNames[EepromNameCount];
extern const EepromCodePair EepromRemap[EepromRemapCount];
extern const EepromNameOverride EepromMarker3Names[EepromMarker3Count];
extern const EepromNameOverride EepromMarker4Names[EepromMarker4Count];
