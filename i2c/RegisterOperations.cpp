// The common shapes of transfer for the client's current device address.
#include "i2c/I2cClient.h"
#include "platform/Kernel.h"
#include "tuner/Memory.h"

namespace {

bool Succeeded(I2cClient& client, I2cTransfer& transfer)
{
    return client.PerformTransfer(transfer) && transfer.Result == TransferDone;
}

}  // namespace

void I2cClient::SetAddress(uint8_t address)
{
    CurrentAddress = address;
}

bool I2cClient::WriteBytes(uint8_t count, const uint8_t* bytes)
{
    I2cTransfer transfer = {};
    transfer.DeviceAddress = CurrentAddress;
    transfer.WriteCount = count;
    // The engine writes into the buffer only for read-modify-write.
    transfer.WriteBuffer = const_cast<uint8_t*>(bytes);
    return Succeeded(*this, transfer);
}

bool I2cClient::WriteBlock(uint8_t count, const uint8_t* subaddress, const uint8_t* data)
{
    uint32_t size = uint32_t(count) + 1;
    uint8_t* buffer = static_cast<uint8_t*>(ExAllocatePoolWithTag(NonPagedPool, size, DriverPoolTag));
    if (buffer == nullptr) return false;
    buffer[0] = *subaddress;
    for (uint32_t i = 0; i < count; ++i) buffer[i + 1] = data[i];

    I2cTransfer transfer = {};
    transfer.DeviceAddress = CurrentAddress;
    transfer.WriteCount = uint16_t(size);
    transfer.WriteBuffer = buffer;
    bool result = Succeeded(*this, transfer);
    ExFreePool(buffer);
    return result;
}

bool I2cClient::WriteRegister(const uint8_t* subaddress, const uint8_t* value)
{
    uint8_t bytes[2] = {*subaddress, *value};
    I2cTransfer transfer = {};
    transfer.DeviceAddress = CurrentAddress;
    transfer.WriteCount = 2;
    transfer.WriteBuffer = bytes;
    return Succeeded(*this, transfer);
}

bool I2cClient::ReadRegisters(uint8_t count, const uint8_t* subaddress, uint8_t* destination)
{
    I2cTransfer transfer = {};
    transfer.DeviceAddress = CurrentAddress;
    transfer.WriteCount = 1;
    transfer.WriteBuffer = const_cast<uint8_t*>(subaddress);
    transfer.ReadCount = count;
    transfer.ReadBuffer = destination;
    return Succeeded(*this, transfer);
}
