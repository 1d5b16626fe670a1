// The PLL word on the bus and what the tuner module makes of it.
#include <gtest/gtest.h>

#include "platform/KernelStreaming.h"
#include "tests/support/KernelTest.h"
#include "tests/support/TunerBuilder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Band = sim::PllTuner::Band;

constexpr uint8_t TunerAddress = 0xC2;

class PllTuning : public KernelTest {};

// The tuner module receives the frequency asked for, to within the step
// that the divider's truncation costs.
void ExpectReceived(const sim::PllTuner& pll, uint32_t frequency)
{
    uint32_t step = pll.StepHz();
    EXPECT_LE(pll.ReceivedHz(), frequency);
    EXPECT_GT(pll.ReceivedHz() + step, frequency);
    EXPECT_TRUE(pll.BandMatches()) << "local oscillator " << pll.LocalOscillatorHz();
}

TEST_F(PllTuning, WorkedExamples)
{
    struct Example {
        uint32_t Model;
        uint32_t Mode;
        uint32_t Standard;  // 0: the construction's
        uint32_t Frequency;
        Bytes Word;
        uint64_t LocalOscillator;
        Band SelectedBand;
        uint32_t Received;
    };
    const Example examples[] = {
        {0, KSPROPERTY_TUNER_MODE_TV, 0, 55250000, {0x05, 0xE2, 0xCE, 0xA0}, 94125000, Band::Low, 55225000},
        {0, KSPROPERTY_TUNER_MODE_TV, 0, 471250000, {0x1F, 0xE2, 0xCE, 0x30}, 510125000, Band::High, 471225000},
        {2, KSPROPERTY_TUNER_MODE_FM_RADIO, 0, 100000000, {0x08, 0xA6, 0x88, 0xA5}, 110700000, Band::Low, 100000000},
        {3, KSPROPERTY_TUNER_MODE_TV, KS_AnalogVideo_NTSC_M, 353500000, {0x18, 0xF4, 0x8E, 0x34}, 399250000,
         Band::High, 353500000},
    };
    for (const Example& example : examples) {
        SCOPED_TRACE("model " + std::to_string(example.Model) + ", " + std::to_string(example.Frequency) + " Hz");
        TunerBuilder bench(example.Model);
        TunerDevice& tuner = bench.Tuner();
        if (example.Standard != 0) {
            tuner.CurrentStandard = example.Standard;
            tuner.SetVideoStandard(example.Standard);
        }
        tuner.CurrentMode = example.Mode;
        bench.ClearRecords();

        EXPECT_TRUE(tuner.TuneFrequency(example.Frequency));
        EXPECT_EQ(bench.WritesTo(TunerAddress), std::vector<Bytes>{example.Word});
        EXPECT_EQ(bench.Pll.LocalOscillatorHz(), example.LocalOscillator);
        EXPECT_EQ(bench.Pll.SelectedBand(), example.SelectedBand);
        EXPECT_EQ(bench.Pll.Fm(), example.Mode == KSPROPERTY_TUNER_MODE_FM_RADIO);
        EXPECT_EQ(bench.Pll.ReceivedHz(), example.Received);
        EXPECT_TRUE(bench.Pll.BandMatches());
    }
}

TEST_F(PllTuning, BandLimitsBelongToTheLowerBand)
{
    struct Edge {
        uint32_t Model;
        uint32_t Frequency;
        uint16_t Word;
        Band SelectedBand;
    };
    const Edge edges[] = {
        {0, 170000000, 0xCEA0, Band::Low},  {0, 170000001, 0xCE90, Band::Mid},
        {0, 450000000, 0xCE90, Band::Mid},  {0, 450000001, 0xCE30, Band::High},
        {10, 160000000, 0xCE01, Band::Low}, {10, 160000001, 0xCE02, Band::Mid},
        {10, 442000000, 0xCE02, Band::Mid}, {10, 442000001, 0xCE04, Band::High},
        {18, 160000000, 0xCE01, Band::Low}, {18, 160000001, 0xCE02, Band::Mid},
        {18, 454000000, 0xCE02, Band::Mid}, {18, 454000001, 0xCE08, Band::High},
        {9, 452000000, 0xCE90, Band::Mid},  {9, 452000001, 0xCE30, Band::High},
    };
    for (const Edge& edge : edges) {
        SCOPED_TRACE("model " + std::to_string(edge.Model) + ", " + std::to_string(edge.Frequency) + " Hz");
        TunerBuilder bench(edge.Model);
        ASSERT_TRUE(bench.Tuner().TuneFrequency(edge.Frequency));
        EXPECT_EQ(bench.Tuner().ControlWord, edge.Word);
        EXPECT_EQ(bench.Pll.SelectedBand(), edge.SelectedBand);
        ExpectReceived(bench.Pll, edge.Frequency);
    }
}

TEST_F(PllTuning, TwoNtscCableChannelsOfModels3And4TakeTheirOwnWord)
{
    struct Case {
        uint32_t Model;
        uint32_t Standard;
        uint32_t Frequency;
        uint16_t Word;
    };
    const Case cases[] = {
        {3, KS_AnalogVideo_NTSC_M, 353500000, 0x8E34},
        {4, KS_AnalogVideo_NTSC_M, 359500000, 0x8E34},
        {3, KS_AnalogVideo_NTSC_M, 353500001, 0xCE90},
        {4, KS_AnalogVideo_NTSC_M, 359437500, 0xCE90},
        {3, KS_AnalogVideo_PAL_M, 353500000, 0xCE90},
        {3, 0x601, 353500000, 0xCE90},  // a mask holding NTSC M is not NTSC M
        {18, KS_AnalogVideo_NTSC_M, 353500000, 0xCE02},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("model " + std::to_string(c.Model) + ", " + std::to_string(c.Frequency) + " Hz");
        TunerBuilder bench(c.Model);
        TunerDevice& tuner = bench.Tuner();
        tuner.CurrentStandard = c.Standard;
        tuner.SetVideoStandard(c.Standard);
        ASSERT_TRUE(tuner.TuneFrequency(c.Frequency));
        EXPECT_EQ(tuner.ControlWord, c.Word);
        ExpectReceived(bench.Pll, c.Frequency);
    }
}

TEST_F(PllTuning, Model1SwitchesItsSecamFiltersByStandard)
{
    struct Case {
        uint32_t Standard;
        uint8_t Port;  // the band byte's low bits
    };
    const Case cases[] = {
        {KS_AnalogVideo_SECAM_L, 0x3},
        {KS_AnalogVideo_SECAM_L1, 0x2},
        {KS_AnalogVideo_PAL_B, 0x1},
        {KS_AnalogVideo_SECAM_L | KS_AnalogVideo_PAL_B, 0x1},  // a mask takes the row for any other
    };
    const std::pair<uint32_t, Band> frequencies[] = {
        {55250000, Band::Low}, {175250000, Band::Mid}, {815250000, Band::High}};
    for (const Case& c : cases) {
        for (const auto& [frequency, band] : frequencies) {
            SCOPED_TRACE("standard " + std::to_string(c.Standard) + ", " + std::to_string(frequency) + " Hz");
            TunerBuilder bench(1);
            TunerDevice& tuner = bench.Tuner();
            tuner.CurrentStandard = c.Standard;
            tuner.SetVideoStandard(c.Standard);
            ASSERT_TRUE(tuner.TuneFrequency(frequency));
            EXPECT_EQ(tuner.ControlWord >> 8, 0xCE);
            EXPECT_EQ(bench.Pll.BandByte() & 0x0F, c.Port);
            EXPECT_EQ(bench.Pll.SelectedBand(), band);
            // The module's L' filter sits at the L' IF that the driver tunes for.
            ExpectReceived(bench.Pll, frequency);
        }
    }
}

// What the module in front of the demodulator receives, and its step.
struct Received {
    uint32_t Hz;
    uint32_t StepHz;
    bool Fm;
};

Received ReceivedBy(const TunerBuilder& bench)
{
    return {bench.Rf.Tuned.TunedHz, bench.Rf.Tuned.StepHz, bench.Rf.Tuned.Fm};
}

TEST_F(PllTuning, EveryModelReceivesTheFrequencyAskedFor)
{
    for (uint32_t model = 0; model < TunerModelCount; ++model) {
        SCOPED_TRACE("model " + std::to_string(model));
        TunerBuilder bench(model);
        TunerDevice& tuner = bench.Tuner();
        // The synthesizer rounds its second oscillator to the nearest step;
        // the PLL modules truncate the divider.
        int64_t above = model == Mt2032Model ? 31250 : 0;
        auto expectReceived = [&](uint32_t frequency, bool fm) {
            Received received = ReceivedBy(bench);
            EXPECT_EQ(received.Fm, fm);
            EXPECT_LE(int64_t(received.Hz), int64_t(frequency) + above);
            EXPECT_GT(int64_t(received.Hz) + received.StepHz, int64_t(frequency));
            if (model != Mt2032Model) {
                EXPECT_TRUE(bench.Pll.BandMatches()) << bench.Pll.LocalOscillatorHz();
            }
        };

        const ModeCaps tv = tuner.TvCaps;
        for (uint32_t frequency : {tv.MinFrequency, tv.MaxFrequency, (tv.MinFrequency + tv.MaxFrequency) / 2 + 1}) {
            SCOPED_TRACE(std::to_string(frequency) + " Hz");
            ASSERT_TRUE(tuner.TuneFrequency(frequency));
            expectReceived(frequency, false);
        }

        tuner.SetTunerMode(KSPROPERTY_TUNER_MODE_FM_RADIO);
        tuner.CurrentMode = KSPROPERTY_TUNER_MODE_FM_RADIO;
        const ModeCaps radio = tuner.RadioCaps;
        if (tuner.ModesSupported != 3) {
            // No FM word: nothing is written and the tune fails.
            bench.ClearRecords();
            EXPECT_FALSE(tuner.TuneFrequency(100000000));
            EXPECT_EQ(tuner.ControlWord, 0);
            EXPECT_EQ(tuner.Divider, 2214u);
            EXPECT_TRUE(bench.Bus().Trace().empty());
            continue;
        }
        for (uint32_t frequency : {radio.MinFrequency, radio.MaxFrequency, 99950001u}) {
            SCOPED_TRACE(std::to_string(frequency) + " Hz FM");
            ASSERT_TRUE(tuner.TuneFrequency(frequency));
            expectReceived(frequency, true);
        }
    }
}

TEST_F(PllTuning, UnknownModeSendsThePreviousWordAgain)
{
    TunerBuilder bench(0);
    TunerDevice& tuner = bench.Tuner();
    tuner.CurrentMode = 3;
    // No word yet: nothing to send.
    EXPECT_FALSE(tuner.TuneFrequency(55250000));
    EXPECT_TRUE(bench.WritesTo(TunerAddress).empty());

    tuner.CurrentMode = KSPROPERTY_TUNER_MODE_TV;
    ASSERT_TRUE(tuner.TuneFrequency(55250000));
    tuner.CurrentMode = 3;
    bench.ClearRecords();
    EXPECT_TRUE(tuner.TuneFrequency(471250000));
    EXPECT_EQ(bench.WritesTo(TunerAddress), (std::vector<Bytes>{{0x05, 0xE2, 0xCE, 0xA0}}));
}

TEST_F(PllTuning, FailedWriteKeepsTheNewWordStored)
{
    TunerBuilder bench(0);
    TunerDevice& tuner = bench.Tuner();
    bench.Pll.RefuseNextWrites(1);
    EXPECT_FALSE(tuner.TuneFrequency(471250000));
    EXPECT_EQ(tuner.Divider, 8162u);
    EXPECT_EQ(tuner.ControlWord, 0xCE30);
    EXPECT_FALSE(bench.Pll.Programmed());
}

}  // namespace
