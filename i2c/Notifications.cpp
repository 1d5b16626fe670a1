// The bridge's own notifications: video standard, country and tuner mode.
// They neither open the bus nor take the client.
#include "i2c/BridgeCalls.h"
#include "i2c/I2cClient.h"

namespace {

enum class Width { Byte, Word32 };

bool Notify(I2cClient& client, ULONG kind, uint32_t value, Width width)
{
    if (!BridgeUsable(client)) return false;
    I2CControl control = {};
    control.Command = I2C_COMMAND_NOTIFY;
    control.dwCookie = client.Cookie;
    control.Data = BYTE(value);
    if (width == Width::Word32) {  // least significant byte first, from Data on
        control.Reserved[0] = BYTE(value >> 8);
        control.Reserved[1] = BYTE(value >> 16);
        control.Reserved[2] = BYTE(value >> 24);
    }
    control.Flags = kind;
    control.ClockRate = client.BusClockRate;
    return client.AccessI2c(client.BridgeDevice, control) == I2C_STATUS_NOERROR;
}

}  // namespace

bool I2cClient::NotifyStandard(uint32_t standard)
{
    return Notify(*this, I2C_NOTIFY_STANDARD, standard, Width::Word32);
}

bool I2cClient::NotifyCountry(uint32_t country)
{
    return Notify(*this, I2C_NOTIFY_COUNTRY, country, Width::Word32);
}

bool I2cClient::NotifyMode(uint32_t mode)
{
    return Notify(*this, I2C_NOTIFY_MODE, mode, Width::Byte);
}
