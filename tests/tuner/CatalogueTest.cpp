// The model catalogue as the tuner object holds it after construction.
#include <gtest/gtest.h>

#include "platform/KernelStreaming.h"
#include "tests/support/KernelTest.h"
#include "tests/support/TunerBuilder.h"

namespace {

struct CatalogueRow {
    uint32_t Model;
    uint32_t Standards;
    uint32_t StandardCount;
    uint32_t TvMin;
    uint32_t TvMax;
    uint32_t IntermediateFrequency;
    uint32_t LowBandLimit;
    uint32_t MidBandLimit;
    uint32_t Modes;
    uint32_t HasAuxiliaryByte;
    uint32_t MapNtscToPalB;
    uint32_t RadioMin;
    uint32_t RadioMax;
};

// Models 21 and 27 offer FM radio over 87.5 to 108 MHz.
constexpr CatalogueRow Rows[] = {
    { 0, 0xD051,  5,  48250000, 855250000, 38900000, 170000000, 450000000, 1, 0, 1,        0,         0},  // FI1216MK2
    { 1, 0xCD051, 7,  48250000, 855250000, 38900000, 170000000, 450000000, 1, 0, 1,        0,         0},  // FI1216MF
    { 2, 0xD051,  5,  48250000, 855250000, 38900000, 170000000, 450000000, 3, 0, 1, 87500000, 108000000},  // FM1216MK2
    { 3, 0x601,   3,  55250000, 801250000, 45750000, 160000000, 454000000, 1, 0, 0,        0,         0},  // FI1236
    { 4, 0x601,   3,  55250000, 801250000, 45750000, 160000000, 454000000, 3, 0, 0, 76000000, 108000000},  // FM1236
    { 5, 0x101,   1,  45750000, 855250000, 38900000, 170000000, 450000000, 1, 0, 1,        0,         0},  // FI1246
    { 6, 0x101,   1,  45750000, 855250000, 38900000, 170000000, 450000000, 3, 0, 1, 87500000, 108000000},  // FM1246
    { 7, 0x32121, 5,  49750000, 863250000, 38900000, 170000000, 450000000, 1, 0, 1,        0,         0},  // FI1256
    { 8, 0x32121, 5,  49750000, 863250000, 38900000, 170000000, 450000000, 3, 0, 1, 87500000, 108000000},  // FM1256
    { 9, 0x3,     1,  91250000, 765250000, 58750000, 160000000, 452000000, 1, 0, 1,        0,         0},  // FI1286
    {10, 0x601,   1,  55250000, 801250000, 45750000, 160000000, 442000000, 1, 1, 0,        0,         0},  // FQ1236MK3
    {11, 0x601,   1,  55250000, 801250000, 45750000, 160000000, 442000000, 3, 1, 0, 87500000, 108000000},  // FM1236MK3
    {12, 0xD2171, 8,  45250000, 864250000, 38900000, 160000000, 442000000, 3, 1, 1, 87500000, 108000000},  // FM1216ME
    {13, 0xD2171, 8,  45250000, 864250000, 38900000, 160000000, 442000000, 1, 1, 1,        0,         0},  // FQ1216ME
    {14, 0x3,     1,  91250000, 765250000, 58750000, 160000000, 442000000, 1, 1, 1,        0,         0},  // FQ1286MK3
    {15, 0x120,   2,  45250000, 864250000, 38900000, 170000000, 450000000, 1, 0, 0,        0,         0},  // FI1256MP
    {16, 0x70,    3,  45250000, 864250000, 38900000, 170000000, 450000000, 1, 0, 0,        0,         0},  // FI1216MP
    {17, 0xF01F1, 9,  38000000, 863250000, 38900000,         0,         0, 3, 0, 1, 87500000, 108000000},  // MT2032
    {18, 0x601,   3,  55250000, 801250000, 45750000, 160000000, 454000000, 1, 0, 0,        0,         0},  // TAPC-H701P
    {19, 0x601,   3,  55250000, 801250000, 45750000, 160000000, 454000000, 3, 0, 0, 76000000, 108000000},  // TAPC-H001P
    {20, 0xD051,  5,  48250000, 855250000, 38900000, 170000000, 450000000, 1, 0, 1,        0,         0},  // TAPC-G701P
    {21, 0xD051,  5,  48250000, 855250000, 38900000, 170000000, 450000000, 3, 0, 1, 87500000, 108000000},  // TAPC-G001P
    {22, 0x32121, 5,  49750000, 863250000, 38900000, 170000000, 450000000, 1, 0, 1,        0,         0},  // TAPC-Q703P
    {23, 0x32121, 5,  49750000, 863250000, 38900000, 170000000, 450000000, 3, 0, 1, 87500000, 108000000},  // TAPC-Q001P
    {24, 0x101,   1,  45750000, 855250000, 38900000, 170000000, 450000000, 1, 0, 1,        0,         0},  // TAPC-W701P
    {25, 0x101,   1,  45750000, 855250000, 38900000, 170000000, 450000000, 3, 0, 1, 87500000, 108000000},  // TAPC-W001P
    {26, 0x120,   2,  45250000, 864250000, 38900000, 170000000, 450000000, 1, 0, 0,        0,         0},  // TAPC-Q704P
    {27, 0x70,    3,  45250000, 864250000, 38900000, 170000000, 450000000, 3, 0, 0, 87500000, 108000000},  // TPI8PSB02P
    {28, 0x70,    3,  45250000, 864250000, 38900000, 170000000, 450000000, 1, 0, 0,        0,         0},  // TAPC-G702P
    {29, 0x601,   3,  55250000, 801250000, 45750000, 160000000, 454000000, 1, 0, 0,        0,         0},  // TCL2002N-6A
    {30, 0x601,   3,  55250000, 801250000, 45750000, 160000000, 454000000, 3, 0, 0, 76000000, 108000000},  // TCL2002N-1F
    {31, 0x70,    3,  45250000, 864250000, 38900000, 170000000, 450000000, 3, 0, 0, 87500000, 108000000},  // TCL2002MB-1F
    {32, 0x70,    3,  45250000, 864250000, 38900000, 170000000, 450000000, 1, 0, 0,        0,         0},  // TCL2002MB-3
    {33, 0x120,   2,  45250000, 864250000, 38900000, 170000000, 450000000, 3, 0, 0, 87500000, 108000000},  // TCL2002MI-1F
    {34, 0x120,   2,  45250000, 864250000, 38900000, 170000000, 450000000, 1, 0, 0,        0,         0},  // TCL2002MI-3
    {35, 0x120,   2,  45250000, 864250000, 38900000, 170000000, 450000000, 3, 0, 0, 87500000, 108000000},  // TVF6831-DIFF
};

class Catalogue : public KernelTest {};

TEST_F(Catalogue, EveryModelGetsItsRow)
{
    for (const CatalogueRow& row : Rows) {
        SCOPED_TRACE("model " + std::to_string(row.Model));
        TunerBuilder bench(row.Model);
        TunerDevice& tuner = bench.Tuner();
        // Again, since the first standard of the construction may move the IF.
        ASSERT_TRUE(tuner.ConfigureModel(row.Model));

        const ModeCaps& tv = tuner.TvCaps;
        EXPECT_EQ(tv.StandardsSupported, row.Standards);
        EXPECT_EQ(tv.MinFrequency, row.TvMin);
        EXPECT_EQ(tv.MaxFrequency, row.TvMax);
        EXPECT_EQ(tv.TuningGranularity, 62500u);
        EXPECT_EQ(tv.NumberOfInputs, 2u);
        EXPECT_EQ(tv.SettlingTime, 150u);
        EXPECT_EQ(tv.Strategy, KS_TUNER_STRATEGY_PLL);

        const ModeCaps& radio = tuner.RadioCaps;
        EXPECT_EQ(radio.StandardsSupported, 0u);
        EXPECT_EQ(radio.MinFrequency, row.RadioMin);
        EXPECT_EQ(radio.MaxFrequency, row.RadioMax);
        EXPECT_EQ(radio.TuningGranularity, 50000u);
        EXPECT_EQ(radio.NumberOfInputs, 0u);
        EXPECT_EQ(radio.SettlingTime, 150u);
        EXPECT_EQ(radio.Strategy, KS_TUNER_STRATEGY_PLL);

        EXPECT_EQ(tuner.StandardCount, row.StandardCount);
        EXPECT_EQ(tuner.IntermediateFrequency, row.IntermediateFrequency);
        EXPECT_EQ(tuner.LowBandLimit, row.LowBandLimit);
        EXPECT_EQ(tuner.MidBandLimit, row.MidBandLimit);
        EXPECT_EQ(tuner.ModesSupported, row.Modes);
        EXPECT_EQ(tuner.HasAuxiliaryByte, row.HasAuxiliaryByte);
        EXPECT_EQ(tuner.MapNtscToPalB, row.MapNtscToPalB);
        EXPECT_EQ(tuner.PinCount, 2u);
        EXPECT_EQ(tuner.CurrentMode, KSPROPERTY_TUNER_MODE_TV);
        EXPECT_EQ(tuner.CurrentCaps, &tuner.TvCaps);
        // A radio range exactly where FM radio is offered.
        EXPECT_EQ(row.Modes == 3, row.RadioMax != 0);
    }
}

TEST_F(Catalogue, ModelAboveTheCatalogueClearsTheCapabilitiesAndFails)
{
    TunerBuilder bench(12);
    TunerDevice& tuner = bench.Tuner();
    tuner.SetTunerMode(KSPROPERTY_TUNER_MODE_FM_RADIO);
    tuner.CurrentMode = KSPROPERTY_TUNER_MODE_FM_RADIO;
    bench.ClearRecords();

    for (uint32_t model : {36u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(tuner.ConfigureModel(model));
        EXPECT_EQ(tuner.TvCaps.MaxFrequency, 0u);
        EXPECT_EQ(tuner.TvCaps.TuningGranularity, 0u);
        EXPECT_EQ(tuner.RadioCaps.MaxFrequency, 0u);
        EXPECT_EQ(tuner.RadioCaps.TuningGranularity, 0u);
        EXPECT_EQ(tuner.IntermediateFrequency, 0u);
        // Everything else stays as it was.
        EXPECT_EQ(tuner.CurrentMode, KSPROPERTY_TUNER_MODE_FM_RADIO);
        EXPECT_EQ(tuner.CurrentCaps, &tuner.RadioCaps);
        EXPECT_EQ(tuner.LowBandLimit, 160000000u);
        EXPECT_EQ(tuner.StandardCount, 8u);
    }
    EXPECT_TRUE(bench.Bus().Trace().empty());
}

TEST_F(Catalogue, SynthesizerIsProgrammedOnceAndKeepsNoBandLimits)
{
    TunerBuilder bench(17);
    TunerDevice& tuner = bench.Tuner();
    EXPECT_EQ(tuner.Mt2032Reference, 5250u);
    EXPECT_EQ(tuner.Mt2032FirstIf, 1090000u);
    EXPECT_EQ(tuner.LowBandLimit, 0u);
    EXPECT_EQ(tuner.MidBandLimit, 0u);
    // The start-up image went to the synthesizer at subaddress 0.
    std::vector<std::vector<uint8_t>> writes = bench.WritesTo(0xC2);
    ASSERT_EQ(writes.size(), 1u);
    ASSERT_GE(writes[0].size(), 4u);
    EXPECT_EQ(writes[0][0], 0x00);
    EXPECT_EQ(writes[0][3], 0xFF);
}

}  // namespace
