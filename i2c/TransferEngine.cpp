// The byte-level engine: one I2cTransfer becomes one bridge call per address
// byte and per data byte.
#include "i2c/BridgeCalls.h"
#include "i2c/I2cClient.h"

namespace {

constexpr uint32_t TransferValid = 0;
constexpr uint32_t NoBridge = 1;
constexpr uint32_t NothingToDo = 2;
constexpr uint32_t MissingBuffer = 3;
constexpr uint32_t NothingToModify = 4;

constexpr ULONG StartFlags = I2C_FLAGS_START | I2C_FLAGS_ACK;
constexpr ULONG MoreFlags = I2C_FLAGS_ACK;
constexpr ULONG LastWriteFlags = I2C_FLAGS_ACK | I2C_FLAGS_STOP;
constexpr ULONG LastReadFlags = I2C_FLAGS_STOP;  // not acknowledged: the device lets go

}  // namespace

uint32_t I2cClient::ValidateTransfer(const I2cTransfer& transfer) const
{
    if (!BridgeUsable(*this)) return NoBridge;
    if (transfer.WriteCount == 0 && transfer.ReadCount == 0) return NothingToDo;
    if ((transfer.WriteCount != 0 && transfer.WriteBuffer == nullptr) ||
        (transfer.ReadCount != 0 && transfer.ReadBuffer == nullptr)) {
        return MissingBuffer;
    }
    if ((transfer.TransferFlags & ReadModifyWrite) != 0 && transfer.WriteCount == 0) return NothingToModify;
    return TransferValid;
}

bool I2cClient::ExecuteTransfer(I2cTransfer& transfer)
{
    if (ValidateTransfer(transfer) != TransferValid) return false;

    I2CControl control = {};
    control.dwCookie = Cookie;
    control.ClockRate = BusClockRate;
    auto send = [&](ULONG command, ULONG flags) {
        control.Command = command;
        control.Flags = flags;
        return AccessI2c(BridgeDevice, control) == I2C_STATUS_NOERROR;
    };
    auto sendWrite = [&](uint8_t byte, ULONG flags) {
        control.Data = byte;
        return send(I2C_COMMAND_WRITE, flags);
    };

    bool modify = (transfer.TransferFlags & ReadModifyWrite) != 0;
    bool stopAfterWrite = (transfer.TransferFlags & NoStopAfterWrite) == 0;
    uint8_t writeAddress = uint8_t(transfer.DeviceAddress & 0xFE);
    uint8_t readAddress = uint8_t(transfer.DeviceAddress | 0x01);
    // With read-modify-write the last write byte is kept for the modified value.
    uint32_t firstWrites = modify ? transfer.WriteCount - 1u : transfer.WriteCount;

    if (firstWrites > 0) {
        if (!sendWrite(writeAddress, StartFlags)) goto failed;
        for (uint32_t i = 0; i < firstWrites; ++i) {
            bool last = i == firstWrites - 1;
            if (!sendWrite(transfer.WriteBuffer[i], last && stopAfterWrite ? LastWriteFlags : MoreFlags)) goto failed;
        }
    }

    if (transfer.ReadCount != 0) {
        // Without a STOP before it this is a repeated START.
        if (!sendWrite(readAddress, StartFlags)) goto failed;
        for (uint32_t i = 0; i < transfer.ReadCount; ++i) {
            bool last = i == transfer.ReadCount - 1u;
            if (!send(I2C_COMMAND_READ, last ? LastReadFlags : MoreFlags)) goto failed;
            transfer.ReadBuffer[i] = control.Data;
        }

        if (modify) {
            uint8_t& target = transfer.WriteBuffer[transfer.WriteCount - 1];
            target = uint8_t((transfer.ReadBuffer[transfer.ReadCount - 1] & transfer.AndMask) | transfer.OrMask);
            if (!sendWrite(writeAddress, StartFlags)) goto failed;
            for (uint32_t i = 0; i < transfer.WriteCount; ++i) {
                bool last = i == transfer.WriteCount - 1u;
                if (!sendWrite(transfer.WriteBuffer[i], last ? LastWriteFlags : MoreFlags)) goto failed;
            }
        }
    }

    transfer.Result = TransferDone;
    return true;

failed:
    // Data and Flags stay as the failed byte left them; the outcome does not matter.
    control.Command = I2C_COMMAND_RESET;
    AccessI2c(BridgeDevice, control);
    transfer.Result = TransferFailed;
    return true;
}
