// A TunerDevice for one catalogue model on a simulated capture bridge and
// bus, with the tuner module (the PLL tuner, or the synthesizer for model
// 17) and the IF demodulator on the bus, constructed in a zero-filled block
// from the bridge device's registry key (model name, address, carrier mode
// and default standard) on the open bus, as the device start builds it; the
// work-item device is set afterwards. Create it inside a test body:
//
//     TunerBuilder bench(12);
//     bench.Tuner().TuneFrequency(55250000);
//     EXPECT_EQ(bench.Pll.ReceivedHz(), 55250000u);
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/RfEnvironment.h"
#include "sim/chips/IfDemodulator.h"
#include "sim/chips/Mt2032.h"
#include "sim/chips/PllTuner.h"
#include "tests/support/I2cBench.h"
#include "tuner/TunerDevice.h"

struct TunerOptions {
    uint32_t Model = 0;
    uint8_t Address = 0xC2;
    uint32_t InterCarrierMode = 0;
    // The registry's default standard; when absent, a model with more than
    // one catalogue standard starts with its lowest.
    std::optional<uint32_t> DefaultStandard;
    // Replaces the chip model at the tuner address.
    sim::I2cDevice* TunerChip = nullptr;
};

class TunerBuilder {
public:
    explicit TunerBuilder(uint32_t model);
    explicit TunerBuilder(const TunerOptions& options);
    // Ends the AGC cycle and gives back the medium arrays as the device stop
    // does, then takes the chips off the bus.
    ~TunerBuilder();
    TunerBuilder(const TunerBuilder&) = delete;
    TunerBuilder& operator=(const TunerBuilder&) = delete;

    TunerDevice& Tuner() { return *tuner_; }
    I2cClient* Client() { return bench_.Client(); }
    sim::I2cBus& Bus() { return bench_.Bus; }
    sim::CaptureBridge& Bridge() { return bench_.Bridge; }
    DEVICE_OBJECT* WorkItemDevice() const { return workItemDevice_; }

    // Data bytes of the write segments addressed to a device, in bus order.
    std::vector<std::vector<uint8_t>> WritesTo(uint8_t address) const;
    // Forgets the bus trace and the chips' records of what was written.
    void ClearRecords();

    // Declared before the chips that refer to it.
    sim::RfEnvironment Rf;
    sim::PllTuner Pll;
    sim::Mt2032 Synthesizer;
    sim::IfDemodulator Demodulator;

private:
    // The synthesizer's second IF is what the stage behind it listens at:
    // the demodulator's picture IF, or the radio IF when the board is in FM.
    void FollowTheBoard();

    I2cBench bench_;
    bool radio_ = false;
    DEVICE_OBJECT* workItemDevice_ = nullptr;
    // From calloc, so that no compiler takes the zeros for dead stores when
    // the object's lifetime begins.
    void* block_ = nullptr;
    TunerDevice* tuner_ = nullptr;
    uint8_t tunerAddress_ = 0;
};
