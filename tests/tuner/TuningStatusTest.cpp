// Lock and fine-tuning offset as the status query reports them.
#include <gtest/gtest.h>

#include <optional>

#include "platform/KernelStreaming.h"
#include "tests/support/KernelTest.h"
#include "tests/support/TunerBuilder.h"

namespace {

constexpr uint8_t TunerAddress = 0xC2;
constexpr int32_t Untouched = 99;

class TuningStatus : public KernelTest {};

struct Status {
    bool Read;
    uint32_t Busy;
    int32_t Offset;
};

Status Query(TunerDevice& tuner)
{
    Status status{false, 77, Untouched};
    status.Read = tuner.ReadTunerStatus(&status.Offset, &status.Busy);
    return status;
}

TEST_F(TuningStatus, PinnedStatusBytesOfEveryGroup)
{
    struct Case {
        uint32_t Model;
        uint32_t Mode;
        uint8_t Module;
        std::optional<uint8_t> Demodulator;
        uint32_t Busy;
        int32_t Offset;
    };
    constexpr uint32_t Tv = KSPROPERTY_TUNER_MODE_TV;
    constexpr uint32_t Fm = KSPROPERTY_TUNER_MODE_FM_RADIO;
    const Case cases[] = {
        {0, Tv, 0x45, {}, 0, 3},
        {0, Tv, 0x40, {}, 0, -2},
        {0, Tv, 0x47, {}, 0, 5},
        {0, Tv, 0x80, {}, 1, Untouched},  // only bit 6 tells the lock
        {27, Tv, 0x42, {}, 0, 0},
        {30, Tv, 0x47, {}, 0, 0},
        {34, Tv, 0x40, {}, 0, 0},
        {31, Tv, 0x07, {}, 1, Untouched},
        {12, Tv, 0x41, 0x10, 0, -2},
        {10, Tv, 0x47, 0x1E, 0, 0},  // code 15 reads as on frequency
        {14, Tv, 0x3F, 0x08, 1, Untouched},
        {17, Tv, 0x00, 0x0C, 0, 2},  // the synthesizer's byte plays no part
        {17, Fm, 0x00, 0x0C, 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("model " + std::to_string(c.Model) + ", byte " + std::to_string(c.Module));
        TunerBuilder bench(c.Model);
        bench.Tuner().CurrentMode = c.Mode;
        bench.Pll.PinStatus(c.Module);
        if (c.Demodulator) bench.Demodulator.PinStatus(*c.Demodulator);
        bench.ClearRecords();

        Status status = Query(bench.Tuner());
        EXPECT_TRUE(status.Read);
        EXPECT_EQ(status.Busy, c.Busy);
        EXPECT_EQ(status.Offset, c.Offset);
        // The demodulator is asked only where it carries the offset.
        bool demodulatorAsked = c.Model == 17 || (c.Model >= 10 && c.Model <= 14 && c.Busy == 0);
        EXPECT_EQ(bench.Demodulator.StatusReads() != 0, demodulatorAsked);
    }
}

TEST_F(TuningStatus, DemodulatorCodesOfModels10To14)
{
    const int32_t offsets[16] = {0, 1, 1, 1, 2, 2, 2, 2, -2, -2, -2, -2, -1, -1, -1, 0};
    TunerBuilder bench(13);
    bench.Pll.PinStatus(0x40);
    for (uint8_t code = 0; code < 16; ++code) {
        SCOPED_TRACE("code " + std::to_string(code));
        // The other bits of the byte are not looked at.
        bench.Demodulator.PinStatus(uint8_t(0xE1 | code << 1));
        Status status = Query(bench.Tuner());
        EXPECT_TRUE(status.Read);
        EXPECT_EQ(status.Busy, 0u);
        EXPECT_EQ(status.Offset, offsets[code]);
    }
}

// The modules compute their codes from the stations on the air: a client
// that fine-tunes by the offset moves towards the station.
TEST_F(TuningStatus, OffsetsPointTowardsTheStation)
{
    struct Group {
        uint32_t Model;
        bool ReportsOffsets;
    };
    for (Group group : {Group{0, true}, Group{12, true}, Group{21, true}, Group{30, false}, Group{33, false}}) {
        for (int32_t steps : {-2, -1, 0, 1, 2}) {
            SCOPED_TRACE("model " + std::to_string(group.Model) + ", station " + std::to_string(steps) + " steps");
            TunerBuilder bench(group.Model);
            TunerDevice& tuner = bench.Tuner();
            ASSERT_TRUE(tuner.TuneFrequency(175250000));
            bench.Rf.Stations.push_back({uint32_t(int64_t(bench.Pll.ReceivedHz()) + steps * 62500), false,
                                         KS_AnalogVideo_PAL_B});

            // The synthesizer locks a few milliseconds after the word.
            Status settling = Query(tuner);
            EXPECT_TRUE(settling.Read);
            EXPECT_EQ(settling.Busy, 1u);
            sim::AdvanceClockMs(10);

            Status status = Query(tuner);
            EXPECT_TRUE(status.Read);
            EXPECT_EQ(status.Busy, 0u);
            EXPECT_EQ(status.Offset, group.ReportsOffsets ? steps : 0);
        }
    }
}

TEST_F(TuningStatus, NoStationReadsAsFarOff)
{
    for (uint32_t model : {0u, 12u}) {
        SCOPED_TRACE("model " + std::to_string(model));
        TunerBuilder bench(model);
        ASSERT_TRUE(bench.Tuner().TuneFrequency(175250000));
        bench.Rf.Stations.push_back({175250000 + 3 * 62500, false, KS_AnalogVideo_PAL_B});
        sim::AdvanceClockMs(10);
        Status status = Query(bench.Tuner());
        EXPECT_EQ(status.Busy, 0u);
        EXPECT_GT(std::abs(status.Offset), 1);
    }
}

TEST_F(TuningStatus, FailedReads)
{
    // The module does not answer: nothing is reported.
    {
        TunerBuilder bench(0);
        bench.Bus().Detach(TunerAddress);
        Status status = Query(bench.Tuner());
        EXPECT_FALSE(status.Read);
        EXPECT_EQ(status.Busy, 77u);
        EXPECT_EQ(status.Offset, Untouched);
    }
    // The client is busy with another transfer: nothing goes on the bus.
    {
        TunerBuilder bench(12);
        bench.ClearRecords();
        bench.Client()->InUse = 1;
        EXPECT_FALSE(Query(bench.Tuner()).Read);
        EXPECT_TRUE(bench.Bus().Trace().empty());
        bench.Client()->InUse = 0;
    }
    // The synthesizer's register read fails: its demodulator is not asked.
    {
        TunerBuilder bench(17);
        bench.Bus().Detach(TunerAddress);
        EXPECT_FALSE(Query(bench.Tuner()).Read);
        EXPECT_EQ(bench.Demodulator.StatusReads(), 0u);
    }
    // A demodulator that does not answer reads as code 0.
    {
        TunerBuilder bench(12);
        bench.Pll.PinStatus(0x40);
        bench.Bus().Detach(IfDemodulatorAddress);
        Status status = Query(bench.Tuner());
        EXPECT_TRUE(status.Read);
        EXPECT_EQ(status.Busy, 0u);
        EXPECT_EQ(status.Offset, 0);
    }
}

TEST_F(TuningStatus, SynthesizerStatusIsReadAtRegister14)
{
    TunerBuilder bench(17);
    bench.Demodulator.PinStatus(0x00);
    bench.ClearRecords();
    ASSERT_TRUE(Query(bench.Tuner()).Read);
    std::vector<sim::BusSegment> trace = bench.Bus().Trace();
    ASSERT_GE(trace.size(), 2u);
    EXPECT_EQ(trace[0].Address, TunerAddress);
    EXPECT_FALSE(trace[0].Read);
    EXPECT_EQ(trace[0].Data, std::vector<uint8_t>{0x0E});
    EXPECT_EQ(trace[1].Address, TunerAddress);
    EXPECT_TRUE(trace[1].Read);
    EXPECT_EQ(trace[1].Data.size(), 1u);
}

}  // namespace
