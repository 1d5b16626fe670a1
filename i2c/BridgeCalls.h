// What the client's operations share about calling the bridge.
#pragma once

#include "i2c/BridgeInterface.h"
#include "i2c/I2cClient.h"
#include "platform/Types.h"

// ClockRate handed to the bridge with every byte, notification and close.
constexpr uint32_t I2cBusClockRate = 10000;

// The waits between open attempts and between busy polls: 200 us, as a
// relative interval in 100 ns units.
constexpr LONGLONG I2cRetryInterval = -2000;

// An interface with both routines and a device to call them for.
inline bool BridgeUsable(const I2cClient& client)
{
    return client.BridgeInterface.i2cOpen != nullptr && client.BridgeInterface.i2cAccess != nullptr &&
           client.BridgeDevice != nullptr;
}
