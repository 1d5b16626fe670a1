// Start-up image, tuning arithmetic and register writes of the synthesizer,
// checked as bytes on the bus and as what the simulated chip decodes.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/KernelStreaming.h"
#include "tests/mt2032/Mt2032Bench.h"
#include "tests/support/KernelTest.h"

namespace {

using Bytes = std::vector<uint8_t>;

class Mt2032Tuning : public KernelTest {};

uint32_t WrittenFraction(const Bytes& fractionWrite)
{
    return fractionWrite.at(1) | ((fractionWrite.at(2) & 0x0F) << 8);
}

TEST_F(Mt2032Tuning, StartupWritesTheRegisterImageInOneTransfer)
{
    Mt2032Bench bench;
    const Bytes image = {0x00, 0x00, 0x00, 0xFF, 0x0F, 0x1F, 0x00, 0xE4, 0x8C, 0xC3, 0x4E,
                         0xEC, 0x00, 0x00, 0x32, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    // The construction's first write to the synthesizer.
    ASSERT_FALSE(bench.Chip.Writes().empty());
    EXPECT_EQ(bench.Chip.Writes().front(), image);
    for (uint8_t index = 0; index <= 20; ++index) EXPECT_TRUE(bench.Chip.WasWritten(index)) << int(index);
    EXPECT_EQ(bench.Tuner().Mt2032Reference, 5250u);
    EXPECT_EQ(bench.Tuner().Mt2032FirstIf, 1090000u);

    // Again, with the chip silent: it fails, but the constants are set all
    // the same, so the tunes that follow can still program the chip.
    bench.Tuner().Mt2032Reference = 0;
    bench.Tuner().Mt2032FirstIf = 0;
    bench.Chip.SetAnswering(false);
    EXPECT_FALSE(bench.Tuner().Mt2032Initialize());
    EXPECT_EQ(bench.Tuner().Mt2032Reference, 5250u);
    EXPECT_EQ(bench.Tuner().Mt2032FirstIf, 1090000u);
}

struct WorkedExample {
    uint32_t Hz;
    uint32_t Lo1Actual, Lo2Frequency;
    uint32_t N1;
    uint8_t VcoBand;
    uint32_t N2, Fraction;
    Bytes Write1, Write2, Write3;
};

const WorkedExample WorkedExamples[] = {
    {55250000, 1144500, 1050350, 218, 4, 200, 270,
     {0x00, 0x1A, 0x42, 0x86}, {0x05, 0x18, 0xE4, 0x0F}, {0x0B, 0x0E, 0x81}},
    {471250000, 1559250, 1049100, 297, 2, 199, 3150,
     {0x00, 0x24, 0x21, 0x86}, {0x05, 0xF7, 0xF4, 0x0F}, {0x0B, 0x4E, 0x8C}},
    // One spur step up; the fraction rounds to 3780 with N2 left alone.
    {213125000, 1307250, 1055225, 249, 3, 200, 3780,
     {0x00, 0x1E, 0x31, 0x86}, {0x05, 0x18, 0xE4, 0x0F}, {0x0B, 0xC4, 0x8E}},
    // Up, then two down; the half kilohertz is dropped.
    {214187500, 1296750, 1043663, 247, 3, 198, 3015,
     {0x00, 0x1D, 0x37, 0x86}, {0x05, 0xD7, 0xE4, 0x0F}, {0x0B, 0xC7, 0x8B}},
};

TEST_F(Mt2032Tuning, WorkedExamplesReachTheChipAsTheirFrequency)
{
    Mt2032Bench bench;
    for (const WorkedExample& example : WorkedExamples) {
        SCOPED_TRACE(example.Hz);
        bench.ClearRecords();
        ASSERT_TRUE(bench.Tuner().Mt2032Tune(example.Hz));

        EXPECT_EQ(bench.TunerWrites(), (std::vector<Bytes>{example.Write1, example.Write2, example.Write3}));
        EXPECT_EQ(bench.Tuner().Lo1Actual, example.Lo1Actual);
        EXPECT_EQ(bench.Tuner().Lo2Frequency, example.Lo2Frequency);
        EXPECT_EQ(bench.Chip.N1(), example.N1);
        EXPECT_EQ(bench.Chip.VcoBand(), example.VcoBand);
        EXPECT_EQ(bench.Chip.N2(), example.N2);
        EXPECT_EQ(bench.Chip.Fraction(), example.Fraction);
        EXPECT_LT(std::fabs(bench.Chip.WantedHz() - example.Hz), 62500.0);
    }
}

struct SpurRun {
    uint32_t Hz;
    uint32_t IntermediateFrequency;
    uint32_t FinalN1;
    const char* Path;
};

TEST_F(Mt2032Tuning, SpurAvoidanceStepsAcrossTheWantedOscillator)
{
    const SpurRun runs[] = {
        {214187500, 38900000, 247, "248 249 247: starts below, up 1, down 2"},
        {467000000, 38900000, 298, "297 296 298: starts above, down 1, up 2"},
        {506000000, 38900000, 303, "304 303: starting exactly on it counts as above"},
        // Only a forced IF needs all three steps.
        {266101000, 5250000, 260, "258 259 257 260: up 1, down 2, up 3"},
    };
    Mt2032Bench bench;
    for (const SpurRun& run : runs) {
        SCOPED_TRACE(run.Path);
        bench.Tuner().IntermediateFrequency = run.IntermediateFrequency;
        ASSERT_TRUE(bench.Tuner().Mt2032Tune(run.Hz));
        EXPECT_EQ(bench.Tuner().Lo1Divider, run.FinalN1);
        EXPECT_EQ(bench.Chip.N1(), run.FinalN1);
    }
    // 260 still has a spur: after the third step nothing is tested again.
    EXPECT_EQ(bench.Tuner().CheckSpurs(), 1u);
}

TEST_F(Mt2032Tuning, WantedFrequencyIsTakenInWholeKilohertz)
{
    Mt2032Bench bench;
    auto writesFor = [&](uint32_t hz) {
        bench.ClearRecords();
        EXPECT_TRUE(bench.Tuner().Mt2032Tune(hz));
        return bench.TunerWrites();
    };
    EXPECT_EQ(writesFor(55250999), writesFor(55250000));
    // The synthesizer's range switch looks at the truncated kHz value.
    EXPECT_EQ(writesFor(399999999).at(1).at(2), 0xE4);
    EXPECT_EQ(writesFor(400000000).at(1).at(2), 0xF4);
}

TEST_F(Mt2032Tuning, FractionIsRoundedToTheTuningStepOfTheMode)
{
    Mt2032Bench bench;
    // TV: steps of 62.5 kHz are 45 units; a 1 kHz-odd sweep hits every remainder.
    for (uint32_t hz = 100000000; hz < 100000000 + 200 * 1013000; hz += 1013000) {
        bench.ClearRecords();
        ASSERT_TRUE(bench.Tuner().Mt2032Tune(hz));
        uint32_t fraction = WrittenFraction(bench.TunerWrites().at(2));
        EXPECT_EQ(fraction % 45, 0u) << hz;
        EXPECT_LE(fraction, 3780u);
    }
    // Half a step rounds up: 2047 = 45 x 45 + 22, 2048 = 45 x 45 + 23.
    ASSERT_TRUE(bench.Tuner().Mt2032Tune(100006000));
    EXPECT_EQ(bench.Chip.Fraction(), 2025u);
    ASSERT_TRUE(bench.Tuner().Mt2032Tune(100005000));
    EXPECT_EQ(bench.Chip.Fraction(), 2070u);

    // The step is the current caps' granularity, not a property of the mode.
    bench.Tuner().TvCaps.TuningGranularity = 50000;
    ASSERT_TRUE(bench.Tuner().Mt2032Tune(100006000));
    EXPECT_EQ(bench.Chip.Fraction(), 2052u);
    bench.Tuner().TvCaps.TuningGranularity = 62500;

    // FM radio: steps of 50 kHz are 36 units.
    bench.SelectRadioMode();
    // 1097 = 36 x 30 + 17, 1098 = 36 x 30 + 18.
    ASSERT_TRUE(bench.Tuner().Mt2032Tune(87526000));
    EXPECT_EQ(bench.Chip.Fraction(), 1080u);
    ASSERT_TRUE(bench.Tuner().Mt2032Tune(87524000));
    EXPECT_EQ(bench.Chip.Fraction(), 1116u);
    for (uint32_t hz = 87500000; hz <= 108000000; hz += 101000) {
        bench.ClearRecords();
        ASSERT_TRUE(bench.Tuner().Mt2032Tune(hz));
        uint32_t fraction = WrittenFraction(bench.TunerWrites().at(2));
        EXPECT_EQ(fraction % 36, 0u) << hz;
        EXPECT_LE(fraction, 3780u);
    }
}

TEST_F(Mt2032Tuning, RadioModeUsesTheRadioFirstAndSecondIf)
{
    Mt2032Bench bench;
    bench.SelectRadioMode();
    EXPECT_EQ(bench.Tuner().Mt2032FirstIf, 1085000u);
    bench.ClearRecords();
    ASSERT_TRUE(bench.Tuner().Mt2032Tune(100000000));

    // LO1 = 226 x 5250 = 1186500 kHz; LO2 = 1186500 - 10700 - 100000 kHz
    // = 204 x 5250 + 3456/3780 of 5250.
    EXPECT_EQ(bench.TunerWrites(), (std::vector<Bytes>{
                                       {0x00, 0x1B, 0x42, 0x86},
                                       {0x05, 0x98, 0xE4, 0x0F},
                                       {0x0B, 0x80, 0x8D},
                                   }));
    EXPECT_EQ(bench.Tuner().Lo1Desired, 1185000u);
    EXPECT_EQ(bench.Tuner().Lo2Frequency, 1075800u);
    EXPECT_EQ(bench.Chip.SecondIfHz(), 10700000u);
    EXPECT_DOUBLE_EQ(bench.Chip.WantedHz(), 100000000.0);
}

TEST_F(Mt2032Tuning, FailedWriteEndsTheTune)
{
    Mt2032Bench bench;
    ASSERT_TRUE(bench.Tuner().Mt2032Tune(55250000));
    const Bytes before = {bench.Chip.Register(5), bench.Chip.Register(6), bench.Chip.Register(7),
                          bench.Chip.Register(11), bench.Chip.Register(12)};

    // Write 1 unanswered: nothing else is tried.
    bench.ClearRecords();
    bench.Chip.SetAnswering(false);
    EXPECT_FALSE(bench.Tuner().Mt2032Tune(471250000));
    bench.Chip.SetAnswering(true);
    auto attempts = bench.SegmentsTo(Mt2032Bench::Address);
    ASSERT_EQ(attempts.size(), 1u);
    EXPECT_FALSE(attempts[0].AddressAcked);
    EXPECT_EQ(Bytes({bench.Chip.Register(5), bench.Chip.Register(6), bench.Chip.Register(7),
                     bench.Chip.Register(11), bench.Chip.Register(12)}),
              before);
    // The fields hold the failed tune's values.
    EXPECT_EQ(bench.Tuner().Lo1Actual, 1559250u);

    // Write 2 failing on the bus (its first byte is the sixth of the tune):
    // no write 3.
    bench.ClearRecords();
    bench.Builder.Bridge().ErrorAtByte(6);
    EXPECT_FALSE(bench.Tuner().Mt2032Tune(471250000));
    bench.Builder.Bridge().ClearFaults();
    EXPECT_EQ(bench.Chip.Writes(), (std::vector<Bytes>{{0x00, 0x24, 0x21, 0x86}}));
}

TEST_F(Mt2032Tuning, TunesThroughTheClientReachTheChipWithinOneStep)
{
    Mt2032Bench bench;
    TunerDevice& tuner = bench.Tuner();
    auto check = [&](uint32_t hz, double step) {
        ASSERT_TRUE(tuner.TuneFrequency(hz)) << hz;
        EXPECT_LT(std::fabs(bench.Chip.WantedHz() - hz), step) << hz;
        EXPECT_LT(std::abs(int64_t(bench.Builder.Rf.Tuned.TunedHz) - int64_t(hz)), int64_t(step)) << hz;
    };
    for (uint32_t hz = tuner.TvCaps.MinFrequency; hz <= tuner.TvCaps.MaxFrequency; hz += 4333250) check(hz, 62500);
    check(tuner.TvCaps.MaxFrequency, 62500);

    // SECAM L' moves the picture IF, and the demodulator with it.
    tuner.SetVideoStandard(KS_AnalogVideo_SECAM_L1);
    tuner.CurrentStandard = KS_AnalogVideo_SECAM_L1;
    EXPECT_EQ(bench.Chip.SecondIfHz(), 33950000u);
    check(175250000, 62500);

    bench.SelectRadioMode();
    for (uint32_t hz = tuner.RadioCaps.MinFrequency; hz <= tuner.RadioCaps.MaxFrequency; hz += 370000) check(hz, 50000);
}

TEST_F(Mt2032Tuning, WithoutStartupNothingIsComputedOrWritten)
{
    Mt2032Bench bench;
    bench.Tuner().Mt2032Reference = 0;
    bench.Tuner().Lo1Desired = 0;
    bench.ClearRecords();
    EXPECT_FALSE(bench.Tuner().Mt2032Tune(55250000));
    EXPECT_TRUE(bench.SegmentsTo(Mt2032Bench::Address).empty());
    EXPECT_EQ(bench.Tuner().Lo1Desired, 0u);
}

// Each case sets the two oscillators and the IF the test compares with.
struct SpurCase {
    const char* What;
    uint32_t Mode;
    uint32_t IntermediateFrequency;
    uint32_t Lo1, Lo2;
    uint32_t Expected;
};

TEST_F(Mt2032Tuning, SpurTestWindowsAndBounds)
{
    const SpurCase cases[] = {
        {"k 4, n 5 lands 2975 kHz from the IF", 1, 38900000, 1302000, 1049975, 1},
        {"one divider up is clear", 1, 38900000, 1307250, 1055225, 0},
        {"exactly 3000 kHz away is outside (IF truncated to 38875)", 1, 38875999, 1302000, 1049975, 0},
        {"2999 kHz away is inside", 1, 38876000, 1302000, 1049975, 1},
        {"3000 kHz away on the other side", 1, 44875000, 1302000, 1049975, 0},
        {"radio: 99 kHz from 10700 is inside", 2, 38900000, 1186499, 587850, 1},
        {"radio: 100 kHz from 10700 is outside", 2, 38900000, 1186500, 587850, 0},
        {"radio ignores the picture IF", 2, 10800000, 1186500, 587850, 0},
        {"other modes: the picture IF, 99 kHz inside", 4, 10899000, 1186500, 587850, 1},
        {"other modes: the picture IF, 100 kHz outside", 4, 10900000, 1186500, 587850, 0},
        {"k 1 stops at n 2 when a = -n - W - L2", 1, 25100000, 6998, 10000, 0},
        {"one above that bound it goes on to n 3", 1, 25100000, 6999, 10000, 1},
        {"early stop skips a product at n 5", 1, 9000000, 500, 1500, 0},
    };
    Mt2032Bench bench;
    TunerDevice& tuner = bench.Tuner();
    for (const SpurCase& c : cases) {
        tuner.CurrentMode = c.Mode;
        tuner.IntermediateFrequency = c.IntermediateFrequency;
        tuner.Lo1Actual = c.Lo1;
        tuner.Lo2Frequency = c.Lo2;
        EXPECT_EQ(tuner.CheckSpurs(), c.Expected) << c.What;
    }
}

TEST_F(Mt2032Tuning, VcoBandComparisonsAreStrict)
{
    struct Case {
        uint32_t Lo1;
        uint32_t Flag;
        uint8_t Band;
    };
    const Case cases[] = {
        {0xFFFFFFFF, 0, 0}, {1790001, 0, 0}, {1790000, 0, 1}, {1617001, 0, 1}, {1617000, 0, 2},
        {1454001, 0, 2},    {1454000, 0, 3}, {1291001, 0, 3}, {1291000, 0, 4}, {0, 0, 4},
        {1890001, 1, 0},    {1890000, 1, 1}, {1720000, 1, 2}, {1530000, 1, 3}, {1370001, 1, 3},
        {1370000, 1, 4},    {1800000, 7, 1},
    };
    Mt2032Bench bench;
    for (const Case& c : cases)
        EXPECT_EQ(bench.Tuner().SelectVco(c.Lo1, c.Flag), c.Band) << c.Lo1 << " flag " << c.Flag;
}

}  // namespace
