#include "tools/tvtuner/Waveform.h"

#include "tools/tvtuner/Vcd.h"

namespace tvtuner {

constexpr uint32_t FallbackClockHz = 10000;  // no transfer told the bridge a rate

void WriteWaveform(std::ostream& out, const std::vector<sim::BusSegment>& segments, uint32_t busClockHz)
{
    VcdWriter writer(out, busClockHz != 0 ? busClockHz : FallbackClockHz);
    for (const sim::BusSegment& segment : segments) {
        WireSegment wire;
        wire.Time = segment.Time;
        wire.Bytes.push_back(WireByte{segment.AddressByte(), segment.AddressAcked});
        for (size_t i = 0; i < segment.Data.size(); ++i) {
            bool acknowledged = i < segment.DataAcked.size() && segment.DataAcked[i];
            wire.Bytes.push_back(WireByte{segment.Data[i], acknowledged});
        }
        wire.Stop = segment.Stop;
        writer.Add(wire);
        // A bus reset leaves the bus idle without a STOP on the wires; the
        // waveform shows the bus released.
        if (segment.Reset) writer.AddStop(segment.EndTime);
    }
    writer.Finish();
}

}  // namespace tvtuner
