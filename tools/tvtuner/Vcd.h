// Renders bus activity as a VCD waveform with the signals scl and sda, the
// way a logic analyser would have captured it: each transfer at its virtual
// time, bits at the bus clock rate, a transfer pushed later only where it
// would overlap the one before.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

namespace tvtuner {

struct WireByte {
    uint8_t Value = 0;
    bool Acknowledged = false;  // the receiver pulled SDA low on the ninth clock
};

// One addressed segment: START (or repeated START), the address byte and the
// data bytes, optionally ended by STOP.
struct WireSegment {
    int64_t Time = 0;  // virtual time, 100 ns units
    std::vector<WireByte> Bytes;
    bool Stop = true;
};

class VcdWriter {
public:
    VcdWriter(std::ostream& out, uint32_t busClockHz);
    void Add(const WireSegment& segment);
    // A STOP without a byte, as a bus reset leaves the bus.
    void AddStop(int64_t time);
    void Finish();

private:
    void Level(int64_t ns, bool scl, bool sda);
    void Bit(bool value);

    std::ostream& out_;
    int64_t halfBitNs_;
    int64_t unitNs_ = 1;     // the timescale
    int64_t nowNs_ = 0;      // end of what has been drawn
    bool busHeld_ = false;   // a segment ended without STOP
    bool scl_ = true;
    bool sda_ = true;
    int64_t lastWrittenNs_ = -1;
};

}  // namespace tvtuner
