// The board's configuration EEPROM, read once at construction to learn
// which tuner module is fitted.
#pragma once

#include "i2c/I2cClient.h"
#include "config/EepromTables.h"
#include "platform/Types.h"

class TunerEeprom {
public:
    // Reads the EEPROM at the client's current address.
    explicit TunerEeprom(I2cClient* client);

    // Makes all eleven reads, even after one has failed.
    bool ReadEeprom();

    // Writes the zero-terminated model name (at most 26 bytes) and returns
    // true, or returns false and writes nothing when a read failed.
    bool DecodeModelName(WCHAR* destination) const;

    uint32_t Valid;
    uint8_t Bytes[EepromByteCount];
    I2cClient* Client;
};
