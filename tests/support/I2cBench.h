// A capture bridge on a simulated bus and an I2cClient that borrowed its
// interface, built in place in a zero-filled block the way device start
// builds it. Create it inside a test body (after the kernel fixture's SetUp):
//
//     I2cBench bench;
//     bench.Bus.Attach(0xC0, &chip);
//     ... bench.Client() ...
#pragma once

#include <cstdint>

#include "i2c/I2cClient.h"
#include "sim/bus/CaptureBridge.h"
#include "sim/bus/I2cBus.h"

class I2cBench {
public:
    // The bridge offers its interface unless told otherwise; the client is
    // constructed at once and its construction code kept.
    explicit I2cBench(sim::InterfaceOffer offer = sim::InterfaceOffer::Offered);
    ~I2cBench();
    I2cBench(const I2cBench&) = delete;
    I2cBench& operator=(const I2cBench&) = delete;

    I2cClient* Client() { return client_; }
    uint32_t ConstructionCode() const { return code_; }

    sim::I2cBus Bus;
    sim::CaptureBridge Bridge;

private:
    alignas(I2cClient) uint8_t block_[sizeof(I2cClient)] = {};
    I2cClient* client_ = nullptr;
    uint32_t code_ = 0xFFFFFFFFu;
};
