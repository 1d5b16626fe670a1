// Building the tuner object from the registry and the board EEPROM: the
// construction codes, the values taken, the first standard and what reaches
// the bus.
#include <gtest/gtest.h>

#include <functional>

#include "tests/config/ConstructionFixture.h"
#include "tests/support/PropertyRequest.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t Preset = 0xCAFEF00Du;  // what the caller left in the code

// ---- Failures --------------------------------------------------------------------

struct FailureCase {
    const char* Name;
    std::function<void(ConstructionTest&)> Arrange;
    uint32_t Code;
};

class ConstructionFailure : public ConstructionTest, public testing::WithParamInterface<FailureCase> {};

const FailureCase failureCases[] = {
    {"KeyCannotBeOpened",
     [](ConstructionTest& t) {
         t.Configure(u"FM1216ME");
         sim::FailRegistryKeyOpen(t.Pdo(), STATUS_OBJECT_NAME_NOT_FOUND);
     },
     ConstructionRegistryFailure},
    {"NeitherEepromAddrNorTunerType",
     [](ConstructionTest& t) { t.Set(u"Address", u"0xC2"); },
     ConstructionRegistryFailure},
    {"TunerTypeUnreadable",
     [](ConstructionTest& t) {
         t.Configure(u"FM1216ME");
         sim::FailRegistryQuery(t.Pdo(), u"TunerType", STATUS_UNSUCCESSFUL);
     },
     ConstructionRegistryFailure},
    {"TunerTypeLongerThan31Characters",
     [](ConstructionTest& t) { t.Configure(std::u16string(32, u'F')); },
     ConstructionRegistryFailure},
    {"EepromAddrUnreadableDoesNotFallBackToTunerType",
     [](ConstructionTest& t) {
         t.Configure(u"FM1216ME");
         sim::FailRegistryQuery(t.Pdo(), u"EEPROMAddr", STATUS_UNSUCCESSFUL);
     },
     ConstructionRegistryFailure},
    {"EepromAddrNotANumber",
     [](ConstructionTest& t) {
         t.Configure(u"FM1216ME");
         t.BoardEeprom(0x00, 0x17);
         t.Set(u"EEPROMAddr", u"A0");
     },
     ConstructionRegistryFailure},
    {"AddressMissing",
     [](ConstructionTest& t) { t.Set(u"TunerType", u"FM1216ME"); },
     ConstructionRegistryFailure},
    {"AddressUnreadable",
     [](ConstructionTest& t) {
         t.Configure(u"FM1216ME");
         sim::FailRegistryQuery(t.Pdo(), u"Address", STATUS_UNSUCCESSFUL);
     },
     ConstructionRegistryFailure},
    // The platform's conversion makes 0 of "C2" and 12 of "12ab".
    {"AddressNotANumber", [](ConstructionTest& t) { t.Configure(u"FM1216ME", u"C2"); },
     ConstructionRegistryFailure},
    {"AddressTrailingJunk",
     [](ConstructionTest& t) { t.Configure(u"FM1216ME", u"0xC2h"); },
     ConstructionRegistryFailure},
    {"AddressGeneralCall",
     [](ConstructionTest& t) { t.Configure(u"FM1216ME", u"0x100"); },
     ConstructionRegistryFailure},
    {"AddressOverflows",
     [](ConstructionTest& t) { t.Configure(u"FM1216ME", u"0x1000000C2"); },
     ConstructionRegistryFailure},
    {"InterCarrierModeNotANumber",
     [](ConstructionTest& t) {
         t.Configure(u"FM1216ME");
         t.Set(u"InterCarrierMode", u"on");
     },
     ConstructionRegistryFailure},
    {"InterCarrierModeUnreadable",
     [](ConstructionTest& t) {
         t.Configure(u"FM1216ME");
         sim::FailRegistryQuery(t.Pdo(), u"InterCarrierMode",
                                STATUS_UNSUCCESSFUL);
     },
     ConstructionRegistryFailure},
    {"NameFollowedByABlank",
     [](ConstructionTest& t) { t.Configure(u"fi1216mk2 "); },
     ConstructionRegistryFailure},
    {"NameNotInTheCatalogue",
     [](ConstructionTest& t) { t.Configure(u"FI1216"); },
     ConstructionRegistryFailure},
    {"EepromNamesNoModel",
     [](ConstructionTest& t) {
         t.Configure(u"FM1216ME");
         t.BoardEeprom(0x00, 0x35);  // "- None -"
     },
     ConstructionRegistryFailure},
    {"EepromDoesNotAnswerLeavesThePreset",
     [](ConstructionTest& t) {
         t.Configure(u"FM1216ME");
         t.BoardEeprom(0x00, 0x17);
         t.eeprom.SetAnswering(false);
     },
     Preset},
};

TEST_P(ConstructionFailure, ReportsItsCodeClosesTheKeyAndProgramsNothing)
{
    GetParam().Arrange(*this);
    EXPECT_EQ(Construct(Preset), GetParam().Code);
    EXPECT_EQ(sim::OpenRegistryKeyCount(), 0u);
    EXPECT_TRUE(WritesTo(DemodulatorAddress).empty());
    EXPECT_TRUE(WritesTo(BoardTunerAddress).empty());
    EXPECT_EQ(tuner->Mediums, nullptr);
    EXPECT_EQ(tuner->PinDirections, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Codes, ConstructionFailure, testing::ValuesIn(failureCases),
                         [](const testing::TestParamInfo<FailureCase>& info) { return info.param.Name; });

using Construction = ConstructionTest;

TEST_F(Construction, WithoutAClientReportsSixteenAndNeverOpensTheKey)
{
    Configure(u"FM1216ME");
    EXPECT_EQ(Construct(Preset, false), ConstructionNoClient);
    EXPECT_TRUE(sim::RegistryKeyOpens().empty());
}

TEST_F(Construction, EachAllocationThatFailsGivesItsCode)
{
    Configure(u"FM1216ME");
    const uint64_t before = sim::PoolAllocationCount();
    ASSERT_EQ(Construct(), ConstructionOk);
    const uint64_t allocations = sim::PoolAllocationCount() - before;

    // In order: the records of the five registry reads (EEPROMAddr, TunerType,
    // Address, InterCarrierMode, DefaultStandard), then Mediums and
    // PinDirections. A failed DefaultStandard read is a missing one.
    const uint32_t expected[] = {ConstructionRegistryFailure,
                                 ConstructionRegistryFailure,
                                 ConstructionRegistryFailure,
                                 ConstructionRegistryFailure,
                                 ConstructionOk,
                                 ConstructionNoMemory,
                                 ConstructionNoMemory};
    ASSERT_EQ(allocations, std::size(expected));
    for (uint32_t n = 1; n <= allocations; ++n) {
        SCOPED_TRACE(n);
        sim::FailNthAllocation(n);
        EXPECT_EQ(Construct(Preset), expected[n - 1]);
        sim::ClearPoolFaults();
        EXPECT_EQ(sim::OpenRegistryKeyCount(), 0u);
        if (n == allocations) {
            EXPECT_NE(tuner->Mediums, nullptr);  // stays recorded for the device stop
            EXPECT_EQ(tuner->PinDirections, nullptr);
        }
    }
}

TEST_F(Construction, PlacementIntoASlotOfAnotherSizeYieldsNoObject)
{
    Configure(u"FM1216ME");
    uint32_t code = Preset;
    TunerDevice* object = new (extension->TunerSlot, sizeof extension->TunerSlot - 4)
        TunerDevice(Pdo(), Client(), &code);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(code, Preset);
    EXPECT_TRUE(sim::RegistryKeyOpens().empty());
}

// ---- Success ---------------------------------------------------------------------

TEST_F(Construction, LeavesATunerReadyInTvModeAddressedAtItsModule)
{
    Configure(u"FM1216ME");
    Set(u"InterCarrierMode", u"1");
    Set(u"DefaultStandard", u"16");
    ASSERT_EQ(Construct(), ConstructionOk);

    ASSERT_EQ(sim::RegistryKeyOpens().size(), 1u);
    EXPECT_EQ(sim::RegistryKeyOpens()[0].Device, Pdo());
    EXPECT_EQ(sim::RegistryKeyOpens()[0].KeyType, PLUGPLAY_REGKEY_DRIVER);
    EXPECT_EQ(sim::RegistryKeyOpens()[0].Access, 0xC0000000u);
    EXPECT_EQ(sim::OpenRegistryKeyCount(), 0u);

    EXPECT_EQ(tuner->Model, 12u);
    EXPECT_EQ(tuner->TunerAddress, BoardTunerAddress);
    EXPECT_EQ(Client()->CurrentAddress, BoardTunerAddress);
    EXPECT_EQ(tuner->Client, Client());
    EXPECT_EQ(tuner->RegistryDeviceObject, Pdo());
    EXPECT_EQ(tuner->PowerState, 1u);
    EXPECT_EQ(tuner->CurrentMode, KSPROPERTY_TUNER_MODE_TV);
    EXPECT_EQ(tuner->CurrentCaps, &tuner->TvCaps);
    EXPECT_EQ(tuner->CurrentFrequency, 0u);
    EXPECT_EQ(tuner->CurrentInput, 0u);
    EXPECT_EQ(tuner->InterCarrierMode, 1u);
    EXPECT_EQ(tuner->CurrentStandard, 0x10u);
    EXPECT_EQ(tuner->AgcTimer, nullptr);

    // The filter description is built and its arrays come zero-filled from
    // a pool that hands out garbage.
    EXPECT_EQ(tuner->PropertySet.PropertiesCount, 7u);
    EXPECT_EQ(tuner->FilterTopology.Categories, &tuner->CategoryGuid);
    ASSERT_EQ(tuner->PinCount, 2u);
    ASSERT_NE(tuner->Mediums, nullptr);
    ASSERT_NE(tuner->PinDirections, nullptr);
    const auto* mediums = reinterpret_cast<const uint8_t*>(tuner->Mediums);
    for (size_t i = 0; i < 2 * sizeof(KSPIN_MEDIUM); ++i) EXPECT_EQ(mediums[i], 0) << i;
    EXPECT_EQ(tuner->PinDirections[0], 0);
    EXPECT_EQ(tuner->PinDirections[1], 0);

    // The only traffic: the first standard to the IF demodulator.
    EXPECT_EQ(WritesTo(DemodulatorAddress), std::vector<Bytes>({{0x00, 0x12, 0x70, 0x49}}));
    EXPECT_TRUE(WritesTo(BoardTunerAddress).empty());
    EXPECT_EQ(demodulator.StandardName(), "B/G");
    EXPECT_EQ(demodulator.PictureIfHz(), 38900000u);
}

TEST_F(Construction, TheEepromNamesTheModelAndTunerTypeIsNotRead)
{
    Configure(u"MT2032");
    BoardEeprom(0x04, 0x15);  // "TVF6831-DIFF"
    ASSERT_EQ(Construct(), ConstructionOk);
    EXPECT_EQ(tuner->Model, 35u);
    EXPECT_FALSE(Queried(u"TunerType"));
    EXPECT_EQ(Client()->CurrentAddress, BoardTunerAddress);

    // Eleven reads from the EEPROM, then the first standard (PAL D, the
    // lowest of 0x120) to the demodulator.
    Bytes offsets;
    for (const Bytes& write : WritesTo(BoardEepromAddress)) offsets.push_back(write.at(0));
    EXPECT_EQ(offsets, Bytes({0x00, 0x01, 0x02, 0x03, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F}));
    EXPECT_EQ(WritesTo(DemodulatorAddress), std::vector<Bytes>({{0x00, 0x16, 0x70, 0x4B}}));
    const std::vector<sim::BusSegment> trace = bench->Bus.Trace();
    EXPECT_EQ(trace.back().Address, DemodulatorAddress);
}

TEST_F(Construction, RegistryValuesAreTakenAsConfigured)
{
    struct Case {
        std::u16string Name;
        std::u16string Address;
        const char16_t* InterCarrierMode;  // null: absent
        uint32_t Model;
        uint8_t TunerAddress;
        uint32_t CarrierMode;
    };
    const Case cases[] = {
        {u"FI1216MK2", u"0xC2", nullptr, 0, 0xC2, 0},
        {u"fi1216mk2", u"0x1C2", u"0", 0, 0xC2, 0},       // low 8 bits of the address
        {u"Tapc-G001P", u" 194 ", u"0x12345678", 21, 0xC2, 0x12345678},
        {u"tvf6831-diff", u"0o302", u"1", 35, 0xC2, 1},
        {u"MT2032", u"0b11000000", u"0", 17, 0xC0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Name.begin(), c.Name.end()));
        Configure(c.Name, c.Address);
        if (c.InterCarrierMode) {
            Set(u"InterCarrierMode", c.InterCarrierMode);
        } else {
            sim::DeleteRegistryValue(Pdo(), u"InterCarrierMode");
        }
        ASSERT_EQ(Construct(), ConstructionOk);
        EXPECT_EQ(tuner->Model, c.Model);
        EXPECT_EQ(tuner->TunerAddress, c.TunerAddress);
        EXPECT_EQ(tuner->InterCarrierMode, c.CarrierMode);
    }
}

// ---- The first standard -------------------------------------------------------------

TEST_F(Construction, TheConfiguredStandardIsKeptWholeAndFallsBackToTheLowestSupported)
{
    struct Case {
        const char16_t* Text;  // null: absent
        uint32_t DefaultStandard;
        uint32_t CurrentStandard;
        Bytes Demodulator;
    };
    // Model 12 (0xD2171, StandardCount 8) with InterCarrierMode 0; it maps
    // NTSC M to PAL B for the demodulator but keeps NTSC M as its standard.
    const Case cases[] = {
        {u"16", 0x10, 0x10, {0x00, 0x16, 0x70, 0x49}},
        {u"0x100", 0x100, 0x100, {0x00, 0x16, 0x70, 0x4A}},           // PAL I keeps its bit
        {u"0x80000", 0x80000, 0x80000, {0x00, 0x86, 0x50, 0x53}},     // SECAM L'
        {u"0x40000", 0x40000, 0x40000, {0x00, 0x06, 0x50, 0x4B}},     // SECAM L
        {nullptr, 0, 0x1, {0x00, 0x16, 0x70, 0x49}},
        {u"PAL", 0, 0x1, {0x00, 0x16, 0x70, 0x49}},
        {u"0", 0, 0x1, {0x00, 0x16, 0x70, 0x49}},
        {u"0x11", 0x11, 0x1, {0x00, 0x16, 0x70, 0x49}},               // two standards
        {u"0x2", 0x2, 0x1, {0x00, 0x16, 0x70, 0x49}},                 // NTSC M J: not supported
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text ? std::string(c.Text, c.Text + std::char_traits<char16_t>::length(c.Text)) : "absent");
        Configure(u"FM1216ME");
        if (c.Text) {
            Set(u"DefaultStandard", c.Text);
        } else {
            sim::DeleteRegistryValue(Pdo(), u"DefaultStandard");
        }
        ASSERT_EQ(Construct(), ConstructionOk);
        EXPECT_EQ(tuner->DefaultStandard, c.DefaultStandard);
        EXPECT_EQ(tuner->CurrentStandard, c.CurrentStandard);
        EXPECT_EQ(WritesTo(DemodulatorAddress), std::vector<Bytes>({c.Demodulator}));
    }
}

TEST_F(Construction, AModelWithOneCatalogueStandardStartsWithItsWholeMask)
{
    struct Case {
        std::u16string Name;
        uint32_t CurrentStandard;
        std::vector<Bytes> Demodulator;
    };
    const Case cases[] = {
        {u"FI1246", 0x101, {}},                           // no demodulator
        {u"FQ1236MK3", 0x601, {{0x00, 0x16, 0x70, 0x16}}},  // a mask takes the last rows
    };
    for (const Case& c : cases) {
        Configure(c.Name);
        Set(u"DefaultStandard", u"16");
        ASSERT_EQ(Construct(), ConstructionOk);
        EXPECT_EQ(tuner->CurrentStandard, c.CurrentStandard);
        EXPECT_EQ(WritesTo(DemodulatorAddress), c.Demodulator);
    }
}

TEST_F(Construction, TheSynthesizerGetsItsStartUpImageBeforeTheFirstStandard)
{
    Configure(u"MT2032");
    ASSERT_EQ(Construct(), ConstructionOk);
    const Bytes image = {0x00, 0x00, 0x00, 0xFF, 0x0F, 0x1F, 0x00, 0xE4, 0x8C, 0xC3, 0x4E,
                         0xEC, 0x00, 0x00, 0x32, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(WritesTo(BoardTunerAddress), std::vector<Bytes>({image}));
    for (uint8_t r = 0; r < sim::Mt2032::RegisterCount; ++r) {
        EXPECT_TRUE(synthesizer.WasWritten(r)) << int(r);
        EXPECT_EQ(synthesizer.Register(r), image[r + 1]) << int(r);
    }

    // NTSC M, the lowest of 0xF01F1, programmed as PAL B with model 17's bytes.
    EXPECT_EQ(tuner->CurrentStandard, 0x1u);
    EXPECT_EQ(WritesTo(DemodulatorAddress), std::vector<Bytes>({{0x00, 0x16, 0x60, 0x49}}));
    const std::vector<sim::BusSegment> trace = bench->Bus.Trace();
    ASSERT_GE(trace.size(), 2u);
    EXPECT_EQ(trace.front().Address, BoardTunerAddress);
    EXPECT_EQ(trace.back().Address, DemodulatorAddress);
}


// ---- Every model -----------------------------------------------------------------

TEST_F(Construction, EveryCatalogueNameBuildsItsModelWithItsCapabilities)
{
    struct Row {
        std::u16string Name;
        uint32_t Modes;
        uint32_t Standards;
        uint32_t TvMin;
        uint32_t TvMax;
        uint32_t RadioMin;  // 0 and 0: no FM radio range
        uint32_t RadioMax;
    };
    constexpr uint32_t Tv = 1;
    constexpr uint32_t TvFm = 3;
    // clang-format off
    const Row rows[] = {
        {u"FI1216MK2",    Tv,   0xD051,  48250000, 855250000, 0,        0        },
        {u"FI1216MF",     Tv,   0xCD051, 48250000, 855250000, 0,        0        },
        {u"FM1216MK2",    TvFm, 0xD051,  48250000, 855250000, 87500000, 108000000},
        {u"FI1236",       Tv,   0x601,   55250000, 801250000, 0,        0        },
        {u"FM1236",       TvFm, 0x601,   55250000, 801250000, 76000000, 108000000},
        {u"FI1246",       Tv,   0x101,   45750000, 855250000, 0,        0        },
        {u"FM1246",       TvFm, 0x101,   45750000, 855250000, 87500000, 108000000},
        {u"FI1256",       Tv,   0x32121, 49750000, 863250000, 0,        0        },
        {u"FM1256",       TvFm, 0x32121, 49750000, 863250000, 87500000, 108000000},
        {u"FI1286",       Tv,   0x3,     91250000, 765250000, 0,        0        },
        {u"FQ1236MK3",    Tv,   0x601,   55250000, 801250000, 0,        0        },
        {u"FM1236MK3",    TvFm, 0x601,   55250000, 801250000, 87500000, 108000000},
        {u"FM1216ME",     TvFm, 0xD2171, 45250000, 864250000, 87500000, 108000000},
        {u"FQ1216ME",     Tv,   0xD2171, 45250000, 864250000, 0,        0        },
        {u"FQ1286MK3",    Tv,   0x3,     91250000, 765250000, 0,        0        },
        {u"FI1256MP",     Tv,   0x120,   45250000, 864250000, 0,        0        },
        {u"FI1216MP",     Tv,   0x70,    45250000, 864250000, 0,        0        },
        {u"MT2032",       TvFm, 0xF01F1, 38000000, 863250000, 87500000, 108000000},
        {u"TAPC-H701P",   Tv,   0x601,   55250000, 801250000, 0,        0        },
        {u"TAPC-H001P",   TvFm, 0x601,   55250000, 801250000, 76000000, 108000000},
        {u"TAPC-G701P",   Tv,   0xD051,  48250000, 855250000, 0,        0        },
        {u"TAPC-G001P",   TvFm, 0xD051,  48250000, 855250000, 87500000, 108000000},
        {u"TAPC-Q703P",   Tv,   0x32121, 49750000, 863250000, 0,        0        },
        {u"TAPC-Q001P",   TvFm, 0x32121, 49750000, 863250000, 87500000, 108000000},
        {u"TAPC-W701P",   Tv,   0x101,   45750000, 855250000, 0,        0        },
        {u"TAPC-W001P",   TvFm, 0x101,   45750000, 855250000, 87500000, 108000000},
        {u"TAPC-Q704P",   Tv,   0x120,   45250000, 864250000, 0,        0        },
        {u"TPI8PSB02P",   TvFm, 0x70,    45250000, 864250000, 87500000, 108000000},
        {u"TAPC-G702P",   Tv,   0x70,    45250000, 864250000, 0,        0        },
        {u"TCL2002N-6A",  Tv,   0x601,   55250000, 801250000, 0,        0        },
        {u"TCL2002N-1F",  TvFm, 0x601,   55250000, 801250000, 76000000, 108000000},
        {u"TCL2002MB-1F", TvFm, 0x70,    45250000, 864250000, 87500000, 108000000},
        {u"TCL2002MB-3",  Tv,   0x70,    45250000, 864250000, 0,        0        },
        {u"TCL2002MI-1F", TvFm, 0x120,   45250000, 864250000, 87500000, 108000000},
        {u"TCL2002MI-3",  Tv,   0x120,   45250000, 864250000, 0,        0        },
        {u"TVF6831-DIFF", TvFm, 0x120,   45250000, 864250000, 87500000, 108000000},
    };
    // clang-format on
    static_assert(std::size(rows) == TunerModelCount);

    for (uint32_t model = 0; model < TunerModelCount; ++model) {
        const Row& row = rows[model];
        SCOPED_TRACE(std::string(row.Name.begin(), row.Name.end()));
        Configure(row.Name);
        ASSERT_EQ(Construct(), ConstructionOk);
        EXPECT_EQ(tuner->Model, model);

        auto caps = test::GetProperty(*tuner, KSPROPERTY_TUNER_CAPS, KSPROPERTY_TUNER_CAPS_S{});
        EXPECT_EQ(caps.Status, STATUS_SUCCESS);
        EXPECT_EQ(caps.Data.ModesSupported, row.Modes);

        KSPROPERTY_TUNER_MODE_CAPS_S ask = {};
        ask.Mode = KSPROPERTY_TUNER_MODE_TV;
        auto tv = test::GetProperty(*tuner, KSPROPERTY_TUNER_MODE_CAPS, ask);
        ASSERT_EQ(tv.Status, STATUS_SUCCESS);
        EXPECT_EQ(tv.Data.StandardsSupported, row.Standards);
        EXPECT_EQ(tv.Data.MinFrequency, row.TvMin);
        EXPECT_EQ(tv.Data.MaxFrequency, row.TvMax);
        EXPECT_EQ(tv.Data.TuningGranularity, 62500u);
        EXPECT_EQ(tv.Data.NumberOfInputs, 2u);
        EXPECT_EQ(tv.Data.SettlingTime, 150u);
        EXPECT_EQ(tv.Data.Strategy, 1u);

        ask.Mode = KSPROPERTY_TUNER_MODE_FM_RADIO;
        auto fm = test::GetProperty(*tuner, KSPROPERTY_TUNER_MODE_CAPS, ask);
        if (row.Modes == Tv) {
            EXPECT_EQ(fm.Status, STATUS_INVALID_PARAMETER);
            continue;
        }
        ASSERT_EQ(fm.Status, STATUS_SUCCESS);
        EXPECT_EQ(fm.Data.StandardsSupported, 0u);
        EXPECT_EQ(fm.Data.MinFrequency, row.RadioMin);
        EXPECT_EQ(fm.Data.MaxFrequency, row.RadioMax);
        EXPECT_EQ(fm.Data.TuningGranularity, 50000u);
        EXPECT_EQ(fm.Data.NumberOfInputs, 0u);
        EXPECT_EQ(fm.Data.SettlingTime, 150u);
        EXPECT_EQ(fm.Data.Strategy, 1u);
    }
}

}  // namespace
