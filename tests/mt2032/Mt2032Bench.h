// A model-17 tuner on the simulated board: the synthesizer at the tuner
// address, following the board's IF and mode, and the IF demodulator.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/chips/Mt2032.h"
#include "tests/support/TunerBuilder.h"

class Mt2032Bench {
public:
    static constexpr uint8_t Address = 0xC0;

    Mt2032Bench();

    TunerDevice& Tuner() { return Builder.Tuner(); }
    // Data bytes of every write segment to the synthesizer since the last
    // ClearRecords.
    std::vector<std::vector<uint8_t>> TunerWrites() const { return Builder.WritesTo(Address); }
    // Segments to either chip, reads included.
    std::vector<sim::BusSegment> SegmentsTo(uint8_t address);
    void ClearRecords();

    // Puts the tuner in FM radio mode the way the mode-set request does.
    void SelectRadioMode();

    TunerBuilder Builder;
    sim::Mt2032& Chip;
};
