// A client on a simulated bridge with a register-file chip at 0xC0.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "i2c/I2cClient.h"
#include "sim/Kernel.h"
#include "sim/bus/RegisterFile.h"
#include "sim/bus/TraceText.h"
#include "tests/support/I2cBench.h"
#include "tests/support/KernelTest.h"

using Lines = std::vector<std::string>;

class ClientTest : public KernelTest {
protected:
    static constexpr uint8_t ChipAddress = 0xC0;

    void SetUp() override
    {
        KernelTest::SetUp();
        bench = std::make_unique<I2cBench>();
        ASSERT_EQ(bench->ConstructionCode(), ConstructionOk);
        client = bench->Client();
        bench->Bus.Attach(ChipAddress, &chip);
        client->SetAddress(ChipAddress);
    }

    void TearDown() override
    {
        bench.reset();
        KernelTest::TearDown();
    }

    sim::CaptureBridge& Bridge() { return bench->Bridge; }
    Lines Trace() const { return sim::Describe(bench->Bus.Trace()); }

    std::vector<sim::BridgeCall> AccessCalls() const
    {
        std::vector<sim::BridgeCall> calls;
        for (const sim::BridgeCall& call : bench->Bridge.Calls()) {
            if (call.Kind == sim::BridgeCall::Access) calls.push_back(call);
        }
        return calls;
    }

    std::vector<sim::BridgeCall> OpenAttempts() const
    {
        std::vector<sim::BridgeCall> calls;
        for (const sim::BridgeCall& call : bench->Bridge.Calls()) {
            if (call.Kind == sim::BridgeCall::Open && call.ToOpen) calls.push_back(call);
        }
        return calls;
    }

    // Forgets what earlier steps of a test left on the bus and in the records.
    void ClearRecords()
    {
        bench->Bus.ClearTrace();
        bench->Bridge.ClearRecords();
    }

    sim::RegisterFile chip;
    std::unique_ptr<I2cBench> bench;
    I2cClient* client = nullptr;
};
