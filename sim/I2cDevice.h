// The bus-facing side of a simulated chip. The bus calls these as the master
// drives the wires; a device sees only what is addressed to it.
#pragma once

#include <cstdint>

namespace sim {

class I2cDevice {
public:
    virtual ~I2cDevice() = default;

    // START or repeated START followed by this device's address; read is the
    // R/W bit. Returning false leaves the address unacknowledged.
    virtual bool Start(bool read) = 0;
    // The master writes a byte; returning false leaves it unacknowledged.
    virtual bool Write(uint8_t byte) = 0;
    // The master clocks a byte out of the device.
    virtual uint8_t Read() = 0;
    // STOP (or a bus reset) ends the transaction.
    virtual void Stop() = 0;
};

}  // namespace sim
