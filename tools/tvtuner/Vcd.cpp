#include "tools/tvtuner/Vcd.h"

#include <algorithm>
#include <string>

namespace tvtuner {

namespace {

// The coarsest unit that still places every quarter bit exactly: viewers and
// decoders sample at the timescale, and a wait of seconds at 1 ns is billions
// of samples.
int64_t TimescaleNs(int64_t halfBitNs)
{
    for (int64_t unit : {1000, 100, 10}) {
        if ((halfBitNs / 2) % unit == 0) return unit;
    }
    return 1;
}

}  // namespace

VcdWriter::VcdWriter(std::ostream& out, uint32_t busClockHz)
    : out_(out), halfBitNs_(500000000LL / std::max<uint32_t>(busClockHz, 1))
{
    unitNs_ = TimescaleNs(halfBitNs_);
    out_ << "$date tvtuner simulated bus $end\n"
         << "$timescale " << (unitNs_ == 1000 ? "1 us" : std::to_string(unitNs_) + " ns") << " $end\n"
         << "$scope module i2c $end\n"
         << "$var wire 1 ! scl $end\n"
         << "$var wire 1 \" sda $end\n"
         << "$upscope $end\n"
         << "$enddefinitions $end\n"
         << "#0\n1!\n1\"\n";
    lastWrittenNs_ = 0;
}

void VcdWriter::Level(int64_t ns, bool scl, bool sda)
{
    if (scl == scl_ && sda == sda_) return;
    if (ns != lastWrittenNs_) {
        out_ << '#' << ns / unitNs_ << '\n';
        lastWrittenNs_ = ns;
    }
    if (scl != scl_) out_ << (scl ? '1' : '0') << "!\n";
    if (sda != sda_) out_ << (sda ? '1' : '0') << "\"\n";
    scl_ = scl;
    sda_ = sda;
}

// Data changes while SCL is low and is sampled while SCL is high.
void VcdWriter::Bit(bool value)
{
    Level(nowNs_, false, value);
    nowNs_ += halfBitNs_ / 2;
    Level(nowNs_, true, value);
    nowNs_ += halfBitNs_;
    Level(nowNs_, false, value);
    nowNs_ += halfBitNs_ / 2;
}

void VcdWriter::Add(const WireSegment& segment)
{
    int64_t at = (segment.Time * 100 + unitNs_ - 1) / unitNs_ * unitNs_;
    if (!busHeld_) nowNs_ = std::max(nowNs_ + halfBitNs_, at);

    if (busHeld_) {
        // Repeated START: release SDA while SCL is low, raise SCL, then pull SDA.
        Level(nowNs_, false, true);
        nowNs_ += halfBitNs_ / 2;
        Level(nowNs_, true, true);
        nowNs_ += halfBitNs_ / 2;
    }
    Level(nowNs_, true, false);  // START: SDA falls while SCL is high
    nowNs_ += halfBitNs_;
    for (const WireByte& byte : segment.Bytes) {
        for (int bit = 7; bit >= 0; --bit) Bit((byte.Value >> bit) & 1);
        Bit(!byte.Acknowledged);
    }
    busHeld_ = !segment.Stop;
    if (segment.Stop) AddStop(segment.Time);
}

void VcdWriter::AddStop(int64_t time)
{
    nowNs_ = std::max(nowNs_, (time * 100 + unitNs_ - 1) / unitNs_ * unitNs_);
    Level(nowNs_, false, false);
    nowNs_ += halfBitNs_ / 2;
    Level(nowNs_, true, false);
    nowNs_ += halfBitNs_ / 2;
    Level(nowNs_, true, true);  // STOP: SDA rises while SCL is high
    busHeld_ = false;
}

void VcdWriter::Finish()
{
    if (busHeld_) AddStop(nowNs_ / 100);
    out_ << '#' << (nowNs_ + halfBitNs_) / unitNs_ << '\n';
    out_.flush();
}

}  // namespace tvtuner
