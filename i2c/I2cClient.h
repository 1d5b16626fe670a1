// The owner of the bus borrowed from the capture bridge driver: the only way
// in which the driver reaches the I2C bus.
#pragma once

#include "i2c/BridgeInterface.h"
#include "i2c/I2cTransfer.h"
#include "platform/Kernel.h"
#include "platform/Types.h"

// Construction codes shared by the objects built in the device extension.
constexpr uint32_t ConstructionOk = 0;
constexpr uint32_t ConstructionNoClient = 0x10;
constexpr uint32_t ConstructionCatalogueFailure = 0x21;
constexpr uint32_t ConstructionNoInterface = 0x40;
constexpr uint32_t ConstructionNoMemory = 0x80;
constexpr uint32_t ConstructionRegistryFailure = 0x81;

class I2cClient {
public:
    // Construction in place: yields no object (and runs no constructor) when
    // the slot's size differs from the client's.
    static void* operator new(size_t size, void* slot, size_t slotSize) noexcept;

    I2cClient(DEVICE_OBJECT* physicalDevice, uint32_t* code);

    // Register operations for CurrentAddress, in their virtual slot order.
    virtual bool WriteBlock(uint8_t count, const uint8_t* subaddress, const uint8_t* data);
    virtual bool WriteRegister(const uint8_t* subaddress, const uint8_t* value);
    virtual bool ReadRegisters(uint8_t count, const uint8_t* subaddress, uint8_t* destination);

    bool WriteBytes(uint8_t count, const uint8_t* bytes);
    void SetAddress(uint8_t address);

    bool OpenBus();
    bool OpenBusWithRetry();
    bool CloseBus();
    bool PerformTransfer(I2cTransfer& transfer);

    bool NotifyStandard(uint32_t standard);
    bool NotifyCountry(uint32_t country);
    bool NotifyMode(uint32_t mode);

    // Transfer engine.
    bool ExecuteTransfer(I2cTransfer& transfer);
    uint32_t ValidateTransfer(const I2cTransfer& transfer) const;
    uint32_t AccessI2c(DEVICE_OBJECT* device, I2CControl& control);

    static bool QueryI2cInterface(I2CINTERFACE* bridgeInterface, DEVICE_OBJECT* device);

    uint8_t CurrentAddress;
    I2CINTERFACE BridgeInterface;
    DEVICE_OBJECT* BridgeDevice;
    uint32_t BusClockRate;
    uint32_t Cookie;
    LONGLONG FirstOpenFailure;
    uint32_t InUse;
};
