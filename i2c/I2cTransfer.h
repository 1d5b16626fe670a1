// One combined bus operation: write some bytes to a device, then optionally
// read some back, optionally modify the last byte read and write again.
#pragma once

#include "platform/Types.h"

// Option bits of I2cTransfer::TransferFlags.
constexpr uint16_t ReadModifyWrite = 0x0004;
constexpr uint16_t NoStopAfterWrite = 0x0100;

// Outcomes the engine writes to I2cTransfer::Result.
constexpr uint8_t TransferDone = 0;
constexpr uint8_t TransferFailed = 2;

struct I2cTransfer {
    uint8_t DeviceAddress;  // 8-bit form; bit 0 is replaced by the engine
    uint8_t Result;         // untouched when the record is rejected
    uint16_t WriteCount;
    uint16_t ReadCount;
    uint16_t TransferFlags;
    uint8_t* WriteBuffer;
    uint8_t* ReadBuffer;
    uint8_t OrMask;
    uint8_t AndMask;
};
