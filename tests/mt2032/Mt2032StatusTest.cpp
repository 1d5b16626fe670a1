// Fine-tuning status of the synthesizer tuner: the register-14 read, the IF
// demodulator's offset code decoded by mode, and its not-ready retries.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/KernelStreaming.h"
#include "tests/mt2032/Mt2032Bench.h"
#include "tests/support/KernelTest.h"

namespace {

class Mt2032Status : public KernelTest {};

// An IF demodulator that answers its status reads from a script and repeats
// the last byte; it can also stay silent.
class ScriptedStatus : public sim::I2cDevice {
public:
    explicit ScriptedStatus(std::vector<uint8_t> script) : script_(std::move(script)) {}
    bool Start(bool read) override
    {
        if (!answering_) return false;
        reads_ += read ? 1 : 0;
        return true;
    }
    bool Write(uint8_t) override { return true; }
    uint8_t Read() override { return script_.at(std::min<size_t>(reads_ - 1, script_.size() - 1)); }
    void Stop() override {}

    bool answering_ = true;
    uint32_t reads_ = 0;

private:
    std::vector<uint8_t> script_;
};

struct StatusResult {
    bool Ok;
    int32_t Offset;
    uint32_t Busy;
};

StatusResult QueryStatus(TunerDevice& tuner)
{
    StatusResult result{false, 99, 99};
    result.Ok = tuner.ReadTunerStatus(&result.Offset, &result.Busy);
    return result;
}

TEST_F(Mt2032Status, OffsetCodeIsDecodedByMode)
{
    struct Row {
        int32_t Tv;
        int32_t Radio;
        uint32_t RadioBusy;
    };
    const Row rows[16] = {
        {0, 0, 0},   {0, 1, 0},   {1, 1, 0},   {1, 2, 1},   {1, 2, 1},   {2, 2, 1},
        {2, 2, 1},   {2, 2, 1},   {-2, 2, 1},  {-2, 2, 1},  {-2, 2, 1},  {-1, -2, 0},
        {-1, -2, 0}, {-1, -1, 0}, {0, -1, 0},  {0, 0, 0},
    };
    Mt2032Bench bench;
    for (uint8_t code = 0; code < 16; ++code) {
        // Bits 5 to 7 are not part of the code.
        bench.Builder.Demodulator.PinStatus(uint8_t(0xE0 | code << 1));
        StatusResult tv = QueryStatus(bench.Tuner());
        EXPECT_TRUE(tv.Ok);
        EXPECT_EQ(tv.Offset, rows[code].Tv) << "TV code " << int(code);
        EXPECT_EQ(tv.Busy, 0u) << "TV code " << int(code);
    }
    bench.SelectRadioMode();
    for (uint8_t code = 0; code < 16; ++code) {
        bench.Builder.Demodulator.PinStatus(uint8_t(code << 1));
        StatusResult radio = QueryStatus(bench.Tuner());
        EXPECT_TRUE(radio.Ok);
        EXPECT_EQ(radio.Offset, rows[code].Radio) << "radio code " << int(code);
        EXPECT_EQ(radio.Busy, rows[code].RadioBusy) << "radio code " << int(code);
    }
    // Any mode but TV takes the radio column.
    bench.Tuner().CurrentMode = 4;
    bench.Builder.Demodulator.PinStatus(uint8_t(8 << 1));
    StatusResult other = QueryStatus(bench.Tuner());
    EXPECT_EQ(other.Offset, 2);
    EXPECT_EQ(other.Busy, 1u);
}

TEST_F(Mt2032Status, ReadsRegister14ThenTheDemodulator)
{
    Mt2032Bench bench;
    bench.Builder.Demodulator.PinStatus(0x0C);
    bench.ClearRecords();
    StatusResult result = QueryStatus(bench.Tuner());
    EXPECT_TRUE(result.Ok);
    EXPECT_EQ(result.Offset, 2);

    auto tuner = bench.SegmentsTo(Mt2032Bench::Address);
    ASSERT_EQ(tuner.size(), 2u);
    EXPECT_FALSE(tuner[0].Read);
    EXPECT_EQ(tuner[0].Data, std::vector<uint8_t>{0x0E});
    EXPECT_TRUE(tuner[1].Read);
    EXPECT_EQ(tuner[1].Data.size(), 1u);
    auto demodulator = bench.SegmentsTo(IfDemodulatorAddress);
    ASSERT_EQ(demodulator.size(), 1u);
    EXPECT_TRUE(demodulator[0].Read);
}

TEST_F(Mt2032Status, NotReadyIsReadAgainUpToTenTimes)
{
    struct Case {
        const char* What;
        std::vector<uint8_t> Script;
        bool Answering;
        uint32_t Reads;
        int32_t TvOffset;
    };
    const Case cases[] = {
        // Code 5 (+2) while not ready, then code 8 (-2) on the tenth read.
        {"never ready: the tenth byte counts",
         {0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x11}, true, 10, -2},
        {"ready at the third read", {0x0B, 0x0B, 0x10, 0x0B}, true, 3, -2},
        {"ready at once", {0x16}, true, 1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        Mt2032Bench bench;
        ScriptedStatus demodulator(c.Script);
        bench.Builder.Bus().Detach(IfDemodulatorAddress);
        bench.Builder.Bus().Attach(IfDemodulatorAddress, &demodulator);
        StatusResult result = QueryStatus(bench.Tuner());
        bench.Builder.Bus().Detach(IfDemodulatorAddress);
        EXPECT_TRUE(result.Ok);
        EXPECT_EQ(demodulator.reads_, c.Reads);
        EXPECT_EQ(result.Offset, c.TvOffset);
        EXPECT_EQ(result.Busy, 0u);
    }
}

TEST_F(Mt2032Status, SilentDemodulatorReadsAsCodeZero)
{
    Mt2032Bench bench;
    bench.SelectRadioMode();
    ScriptedStatus demodulator({0x07});  // would be +2 and busy in radio mode
    demodulator.answering_ = false;
    bench.Builder.Bus().Detach(IfDemodulatorAddress);
    bench.Builder.Bus().Attach(IfDemodulatorAddress, &demodulator);
    bench.ClearRecords();
    StatusResult result = QueryStatus(bench.Tuner());
    bench.Builder.Bus().Detach(IfDemodulatorAddress);
    EXPECT_TRUE(result.Ok);
    EXPECT_EQ(result.Offset, 0);
    EXPECT_EQ(result.Busy, 0u);
    EXPECT_EQ(bench.SegmentsTo(IfDemodulatorAddress).size(), 1u) << "a failed read ends the loop";
}

TEST_F(Mt2032Status, FailedRegister14ReadFailsWithoutAskingTheDemodulator)
{
    Mt2032Bench bench;
    bench.Chip.SetAnswering(false);
    bench.ClearRecords();
    StatusResult result = QueryStatus(bench.Tuner());
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.Offset, 99);
    EXPECT_EQ(result.Busy, 99u);
    EXPECT_TRUE(bench.SegmentsTo(IfDemodulatorAddress).empty());
}

TEST_F(Mt2032Status, ReportsWhereTheStationLies)
{
    struct Case {
        bool Radio;
        uint32_t StationHz;
        uint32_t TunedHz;
        int32_t Offset;
        uint32_t Busy;
    };
    // TV steps are 62.5 kHz, radio steps 50 kHz.
    const Case cases[] = {
        {false, 55250000, 55250000, 0, 0},
        {false, 55250000 + 125000, 55250000, 2, 0},
        {false, 55250000 - 62500, 55250000, -1, 0},
        {true, 100000000, 100000000, 0, 0},
        {true, 100050000, 100000000, 1, 0},
        {true, 99900000, 100000000, -2, 0},
        {true, 100100000, 100000000, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.StationHz << " tuned to " << c.TunedHz);
        Mt2032Bench bench;
        sim::Station station;
        station.FrequencyHz = c.StationHz;
        station.Fm = c.Radio;
        station.Standard = c.Radio ? 0 : KS_AnalogVideo_PAL_B;
        bench.Builder.Rf.Stations.push_back(station);
        if (c.Radio) bench.SelectRadioMode();
        ASSERT_TRUE(bench.Tuner().TuneFrequency(c.TunedHz));
        sim::AdvanceClockMs(20);
        StatusResult result = QueryStatus(bench.Tuner());
        EXPECT_TRUE(result.Ok);
        EXPECT_EQ(result.Offset, c.Offset);
        EXPECT_EQ(result.Busy, c.Busy);
    }
}

}  // namespace
