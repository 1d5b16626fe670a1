// Video standards and tuner modes: the IF demodulator's bytes, the IF of the
// next tune and the FM radio set-up.
#include <gtest/gtest.h>

#include "platform/KernelStreaming.h"
#include "tests/support/KernelTest.h"
#include "tests/support/TunerBuilder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Group = sim::IfDemodulator::Group;

constexpr uint8_t TunerAddress = 0xC2;

class StandardSelection : public KernelTest {};

TEST_F(StandardSelection, WorkedExamples)
{
    struct Example {
        uint32_t Model;
        uint32_t Standard;
        uint32_t InterCarrierMode;
        Bytes Demodulator;
        uint32_t IntermediateFrequency;
        const char* StandardName;
    };
    const Example examples[] = {
        {12, KS_AnalogVideo_PAL_B, 0, {0x00, 0x16, 0x70, 0x49}, 38900000, "B/G"},
        {12, KS_AnalogVideo_SECAM_L, 1, {0x00, 0x02, 0x50, 0x4B}, 38900000, "L"},
        {12, KS_AnalogVideo_SECAM_L1, 0, {0x00, 0x86, 0x50, 0x53}, 33950000, "L'"},
        {17, KS_AnalogVideo_NTSC_M, 0, {0x00, 0x16, 0x60, 0x49}, 38900000, "B/G"},
        {10, KS_AnalogVideo_NTSC_M, 1, {0x00, 0x12, 0x30, 0x44}, 45750000, "M"},
    };
    for (const Example& example : examples) {
        SCOPED_TRACE("model " + std::to_string(example.Model) + ", standard " + std::to_string(example.Standard));
        TunerOptions options;
        options.Model = example.Model;
        options.InterCarrierMode = example.InterCarrierMode;
        TunerBuilder bench(options);
        TunerDevice& tuner = bench.Tuner();
        tuner.IntermediateFrequency = 0;
        tuner.AgcState = 4;
        tuner.StandardChanged = 0;
        bench.ClearRecords();

        EXPECT_TRUE(tuner.SetVideoStandard(example.Standard));
        EXPECT_EQ(bench.WritesTo(IfDemodulatorAddress), std::vector<Bytes>{example.Demodulator});
        EXPECT_EQ(tuner.IntermediateFrequency, example.IntermediateFrequency);
        EXPECT_EQ(tuner.AgcState, 0);
        EXPECT_EQ(tuner.StandardChanged, 1u);
        EXPECT_EQ(bench.Demodulator.StandardName(), example.StandardName);
        EXPECT_EQ(bench.Demodulator.Intercarrier(), example.InterCarrierMode != 0);
        EXPECT_EQ(bench.Demodulator.PictureIfHz(), example.IntermediateFrequency);
    }
}

// Every named standard: the demodulator ends up on the standard's sound
// carrier and on the IF that the next tune is computed with.
TEST_F(StandardSelection, DemodulatorAgreesWithTheTuneForEveryStandard)
{
    struct Case {
        uint32_t Standard;
        const char* Name;  // as the demodulator decodes it; "?" for none
        uint32_t IntermediateFrequency;
        uint8_t SecondOthers;
        uint8_t SecondSynthesizer;
    };
    const Case cases[] = {
        {KS_AnalogVideo_NTSC_M, "M", 45750000, 0x30, 0x20},
        {KS_AnalogVideo_PAL_M, "M", 45750000, 0x30, 0x20},
        {KS_AnalogVideo_PAL_N, "M", 45750000, 0x30, 0x20},
        {KS_AnalogVideo_NTSC_M_J, "M/J", 58750000, 0x10, 0x00},
        {KS_AnalogVideo_PAL_B, "B/G", 38900000, 0x70, 0x60},
        {KS_AnalogVideo_PAL_G, "B/G", 38900000, 0x70, 0x60},
        {KS_AnalogVideo_PAL_D, "D/K", 38900000, 0x70, 0x60},
        {KS_AnalogVideo_PAL_I, "I", 38900000, 0x70, 0x60},
        {KS_AnalogVideo_SECAM_D, "D/K", 38900000, 0x70, 0x60},
        {KS_AnalogVideo_SECAM_K, "D/K", 38900000, 0x70, 0x60},
        {KS_AnalogVideo_SECAM_L, "L", 38900000, 0x50, 0x40},
        {KS_AnalogVideo_SECAM_L1, "L'", 33950000, 0x50, 0x40},
        // These four take the bytes of an unknown standard, IF all the same.
        {KS_AnalogVideo_SECAM_B, "?", 38900000, 0x70, 0x70},
        {KS_AnalogVideo_SECAM_G, "?", 38900000, 0x70, 0x70},
        {KS_AnalogVideo_SECAM_H, "?", 38900000, 0x70, 0x70},
        {KS_AnalogVideo_SECAM_K1, "?", 38900000, 0x70, 0x70},
        // Unknown values and masks leave the IF alone.
        {KS_AnalogVideo_PAL_60, "?", 11111111, 0x70, 0x70},
        {0x601, "?", 11111111, 0x70, 0x70},
        {0, "?", 11111111, 0x70, 0x70},
    };
    for (uint32_t model : {13u, 17u}) {
        for (const Case& c : cases) {
            SCOPED_TRACE("model " + std::to_string(model) + ", standard " + std::to_string(c.Standard));
            TunerBuilder bench(model);
            TunerDevice& tuner = bench.Tuner();
            tuner.MapNtscToPalB = 0;
            tuner.IntermediateFrequency = 11111111;
            bench.ClearRecords();

            tuner.SetVideoStandard(c.Standard);
            std::vector<Bytes> writes = bench.WritesTo(IfDemodulatorAddress);
            ASSERT_EQ(writes.size(), 1u);
            EXPECT_EQ(writes[0][2], model == 17 ? c.SecondSynthesizer : c.SecondOthers);
            EXPECT_EQ(bench.Demodulator.StandardName(), c.Name);
            EXPECT_FALSE(bench.Demodulator.Intercarrier());
            EXPECT_EQ(tuner.IntermediateFrequency, c.IntermediateFrequency);
            if (std::string(c.Name) != "?") {
                EXPECT_EQ(bench.Demodulator.PictureIfHz(), c.IntermediateFrequency);
            }
        }
    }
}

TEST_F(StandardSelection, NtscMIsProgrammedAsPalBWhereTheModelSaysSo)
{
    TunerBuilder mapped(12);
    mapped.Tuner().SetVideoStandard(KS_AnalogVideo_NTSC_M);
    EXPECT_EQ(mapped.Demodulator.StandardName(), "B/G");
    EXPECT_EQ(mapped.Tuner().IntermediateFrequency, 38900000u);

    TunerBuilder plain(10);
    plain.Tuner().SetVideoStandard(KS_AnalogVideo_NTSC_M);
    EXPECT_EQ(plain.Demodulator.StandardName(), "M");
    EXPECT_EQ(plain.Tuner().IntermediateFrequency, 45750000u);
}

TEST_F(StandardSelection, ModelsWithoutDemodulatorOrWithFixedBytes)
{
    // Model 11 sends the same bytes whatever the standard and carrier mode.
    for (uint32_t interCarrier : {0u, 1u}) {
        TunerOptions options;
        options.Model = 11;
        options.InterCarrierMode = interCarrier;
        TunerBuilder bench(options);
        bench.ClearRecords();
        bench.Tuner().SetVideoStandard(KS_AnalogVideo_PAL_M);
        EXPECT_EQ(bench.WritesTo(IfDemodulatorAddress), (std::vector<Bytes>{{0x00, 0x15, 0x30, 0x44}}));
        EXPECT_EQ(bench.Demodulator.StandardName(), "M");
        EXPECT_EQ(bench.Tuner().IntermediateFrequency, 45750000u);
    }
    for (uint32_t model : {0u, 9u, 18u, 25u, 29u, 30u}) {
        SCOPED_TRACE("model " + std::to_string(model));
        TunerBuilder bench(model);
        bench.Tuner().SetVideoStandard(KS_AnalogVideo_NTSC_M);
        EXPECT_TRUE(bench.Bus().Trace().empty());
        EXPECT_FALSE(bench.Demodulator.Programmed());
    }
}

TEST_F(StandardSelection, RadioSetUpOfModels11And12)
{
    for (uint32_t model : {11u, 12u}) {
        SCOPED_TRACE("model " + std::to_string(model));
        TunerBuilder bench(model);
        TunerDevice& tuner = bench.Tuner();
        tuner.AgcState = 4;
        tuner.StandardChanged = 0;
        bench.ClearRecords();

        EXPECT_TRUE(tuner.SetTunerMode(KSPROPERTY_TUNER_MODE_FM_RADIO));
        EXPECT_EQ(bench.WritesTo(TunerAddress),
                  (std::vector<Bytes>{{0x08, 0xFF, 0x8E, 0x01}, {0x08, 0xFF, 0x8E, 0x19}}));
        EXPECT_EQ(bench.WritesTo(IfDemodulatorAddress), (std::vector<Bytes>{{0x00, 0x5A, 0x90, 0x20}}));
        EXPECT_EQ(bench.Demodulator.StandardGroup(), Group::FmRadio);
        EXPECT_EQ(tuner.CurrentCaps, &tuner.RadioCaps);
        EXPECT_EQ(tuner.Mt2032FirstIf, 1085000u);
        EXPECT_EQ(tuner.AgcState, 0);
        EXPECT_EQ(tuner.StandardChanged, 0u);
        ASSERT_EQ(bench.Bridge().Notifications().size(), 1u);
        EXPECT_EQ(bench.Bridge().Notifications()[0].Kind, I2C_NOTIFY_MODE);
        EXPECT_EQ(bench.Bridge().Notifications()[0].Value, KSPROPERTY_TUNER_MODE_FM_RADIO);
    }
}

TEST_F(StandardSelection, RadioBytesNeedTheSecondSetUpWord)
{
    TunerBuilder bench(12);
    TunerDevice& tuner = bench.Tuner();
    tuner.AgcState = 4;
    bench.Pll.RefuseNextWrites(2);
    bench.ClearRecords();

    EXPECT_TRUE(tuner.SetTunerMode(KSPROPERTY_TUNER_MODE_FM_RADIO));
    EXPECT_TRUE(bench.WritesTo(IfDemodulatorAddress).empty());
    EXPECT_EQ(bench.Demodulator.StandardName(), "B/G");
    EXPECT_EQ(tuner.AgcState, 4);
    EXPECT_EQ(tuner.CurrentCaps, &tuner.RadioCaps);
}

TEST_F(StandardSelection, ModeChangesOfOtherModelsOnlyNotifyTheBridge)
{
    for (uint32_t mode : {KSPROPERTY_TUNER_MODE_FM_RADIO, 3u, 0x102u}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        TunerBuilder bench(2);
        TunerDevice& tuner = bench.Tuner();
        tuner.StandardChanged = 0;
        bench.ClearRecords();
        bench.Bridge().ClearRecords();

        EXPECT_TRUE(tuner.SetTunerMode(mode));
        EXPECT_TRUE(bench.Bus().Trace().empty());
        EXPECT_EQ(tuner.StandardChanged, 0u);
        EXPECT_EQ(tuner.CurrentCaps, mode == KSPROPERTY_TUNER_MODE_FM_RADIO ? &tuner.RadioCaps : &tuner.TvCaps);
        ASSERT_EQ(bench.Bridge().Notifications().size(), 1u);
        EXPECT_EQ(bench.Bridge().Notifications()[0].Value, mode & 0xFF);
    }
}

TEST_F(StandardSelection, BackToTvAppliesTheCurrentStandardAgain)
{
    TunerBuilder bench(12);
    TunerDevice& tuner = bench.Tuner();
    tuner.CurrentStandard = KS_AnalogVideo_SECAM_L1;
    tuner.SetTunerMode(KSPROPERTY_TUNER_MODE_FM_RADIO);
    tuner.CurrentMode = KSPROPERTY_TUNER_MODE_FM_RADIO;
    tuner.StandardChanged = 0;
    bench.ClearRecords();

    EXPECT_TRUE(tuner.SetTunerMode(KSPROPERTY_TUNER_MODE_TV));
    tuner.CurrentMode = KSPROPERTY_TUNER_MODE_TV;
    EXPECT_EQ(tuner.CurrentCaps, &tuner.TvCaps);
    EXPECT_EQ(tuner.Mt2032FirstIf, 1090000u);
    EXPECT_EQ(tuner.StandardChanged, 1u);
    EXPECT_EQ(tuner.IntermediateFrequency, 33950000u);
    EXPECT_EQ(bench.Demodulator.StandardName(), "L'");

    // The first tune afterwards carries the auxiliary byte.
    ASSERT_TRUE(tuner.TuneFrequency(55250000));
    std::vector<Bytes> writes = bench.WritesTo(TunerAddress);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[1][2], 0xDE);
    // Received on the L' IF, to within the step the divider's truncation costs.
    EXPECT_LE(bench.Pll.ReceivedHz(), 55250000u);
    EXPECT_GT(bench.Pll.ReceivedHz(), 55250000u - 62500u);
}

}  // namespace
