#include "tests/support/I2cBench.h"

#include <new>

I2cBench::I2cBench(sim::InterfaceOffer offer) : Bridge(Bus)
{
    Bridge.SetInterfaceOffer(offer);
    client_ = new (block_, sizeof(block_)) I2cClient(Bridge.Device(), &code_);
}

I2cBench::~I2cBench() = default;
