// Property sets: what reaches the tuner module, the IF demodulator and the
// bridge, and what the tuner reports afterwards.
#include <gtest/gtest.h>

#include <utility>

#include "platform/Status.h"
#include "tests/properties/PropertyTest.h"

namespace {

using SetPropertyTest = PropertyTest;
using Seen = std::vector<std::pair<ULONG, uint32_t>>;

class SetProperty : public PropertyTest {
protected:
    // The bridge's notifications as (kind, value), oldest first.
    Seen Notified()
    {
        Seen seen;
        for (const sim::BridgeNotification& n : Notifications()) seen.emplace_back(n.Kind, n.Value);
        return seen;
    }
    uint32_t ReportedMode() { return Get<KSPROPERTY_TUNER_MODE_S>(KSPROPERTY_TUNER_MODE).Data.Mode; }
    KSPROPERTY_TUNER_FREQUENCY_S ReportedFrequency()
    {
        return Get<KSPROPERTY_TUNER_FREQUENCY_S>(KSPROPERTY_TUNER_FREQUENCY).Data;
    }
    NTSTATUS SetInput(uint32_t input)
    {
        KSPROPERTY_TUNER_INPUT_S record = {};
        record.InputIndex = input;
        return Set(KSPROPERTY_TUNER_INPUT, record).Status;
    }
};

// ---- Frequency ---------------------------------------------------------------

TEST_F(SetProperty, FrequencyWritesThePllWordAndKeepsChannelAndCountry)
{
    Build(0);
    KSPROPERTY_TUNER_FREQUENCY_S record = {};
    record.Frequency = 55250000;
    record.Channel = 2;
    record.Country = 49;
    auto reply = Set(KSPROPERTY_TUNER_FREQUENCY, record);
    EXPECT_EQ(reply.Status, STATUS_SUCCESS);
    EXPECT_EQ(reply.BytesTransferred, test::UnwrittenByteCount);
    EXPECT_EQ(TunerWrites(), (std::vector<std::vector<uint8_t>>{Bytes({0x05, 0xE2, 0xCE, 0xA0})}));
    EXPECT_EQ(Notified(), (Seen{{I2C_NOTIFY_COUNTRY, 49}}));

    auto frequency = ReportedFrequency();
    EXPECT_EQ(frequency.Frequency, 55250000u);
    EXPECT_EQ(frequency.Channel, 2u);
    EXPECT_EQ(frequency.Country, 49u);

    ClearRecords();
    EXPECT_EQ(SetFrequency(471250000, 21, 49), STATUS_SUCCESS);
    EXPECT_EQ(TunerWrites(), (std::vector<std::vector<uint8_t>>{Bytes({0x1F, 0xE2, 0xCE, 0x30})}));
    EXPECT_EQ(ReportedFrequency().Channel, 21u);
}

TEST_F(SetProperty, FrequencyOutsideTheModeRangeIsRefusedButTheCountryIsTaken)
{
    Build(0);  // TV 48250000 to 855250000
    struct Case {
        uint32_t Frequency;
        NTSTATUS Status;
    };
    const Case cases[] = {
        {48249999, STATUS_INVALID_PARAMETER},
        {855250001, STATUS_INVALID_PARAMETER},
        {0, STATUS_INVALID_PARAMETER},
        {48250000, STATUS_SUCCESS},
        {855250000, STATUS_SUCCESS},
    };
    uint32_t country = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Frequency);
        ClearRecords();
        const uint32_t before = Tuner().CurrentFrequency;
        EXPECT_EQ(SetFrequency(c.Frequency, 7, country), c.Status);
        EXPECT_EQ(Notified(), (Seen{{I2C_NOTIFY_COUNTRY, country}}));
        EXPECT_EQ(ReportedFrequency().Country, country);
        EXPECT_EQ(TunerWrites().size(), c.Status == STATUS_SUCCESS ? 1u : 0u);
        EXPECT_EQ(ReportedFrequency().Frequency, c.Status == STATUS_SUCCESS ? c.Frequency : before);
        ++country;
    }
}

TEST_F(SetProperty, CurrentFrequencyIsNotTunedAgain)
{
    Build(0);
    ASSERT_EQ(SetFrequency(55250000, 2, 49), STATUS_SUCCESS);
    ClearRecords();
    EXPECT_EQ(SetFrequency(55250000, 9, 33), STATUS_SUCCESS);
    EXPECT_TRUE(TunerWrites().empty());
    EXPECT_EQ(Notified(), (Seen{{I2C_NOTIFY_COUNTRY, 33}}));
    auto frequency = ReportedFrequency();
    EXPECT_EQ(frequency.Channel, 2u);
    EXPECT_EQ(frequency.Country, 33u);
}

TEST_F(SetProperty, FailedTuneKeepsFrequencyAndChannel)
{
    Build(0);
    ASSERT_EQ(SetFrequency(55250000, 2, 49), STATUS_SUCCESS);
    Bench().Pll.RefuseNextWrites(1);
    EXPECT_EQ(SetFrequency(471250000, 21, 49), STATUS_INVALID_PARAMETER);
    auto frequency = ReportedFrequency();
    EXPECT_EQ(frequency.Frequency, 55250000u);
    EXPECT_EQ(frequency.Channel, 2u);
    // Nothing is taken for current: the same request tunes when sent again.
    ClearRecords();
    EXPECT_EQ(SetFrequency(471250000, 21, 49), STATUS_SUCCESS);
    EXPECT_EQ(TunerWrites(), (std::vector<std::vector<uint8_t>>{Bytes({0x1F, 0xE2, 0xCE, 0x30})}));
}

TEST_F(SetProperty, CurrentFrequencyIsTunedAgainAfterAStandardChange)
{
    Build(12);  // takes an auxiliary byte after a standard change
    ASSERT_EQ(SetFrequency(471250000), STATUS_SUCCESS);
    ASSERT_EQ(SetStandard(KS_AnalogVideo_PAL_I), STATUS_SUCCESS);
    ClearRecords();
    EXPECT_EQ(SetFrequency(471250000), STATUS_SUCCESS);
    ASSERT_FALSE(TunerWrites().empty());
    EXPECT_EQ(TunerWrites()[0], Bytes({0x1F, 0xE2, 0xCE, 0x04}));  // high band
    EXPECT_TRUE(Bench().Pll.AuxiliaryByte().has_value());

    // Once tuned, the same frequency is current again.
    ClearRecords();
    EXPECT_EQ(SetFrequency(471250000), STATUS_SUCCESS);
    EXPECT_TRUE(TunerWrites().empty());

    // Setting the standard already current changes nothing that needs a tune.
    ASSERT_EQ(SetStandard(KS_AnalogVideo_PAL_I), STATUS_SUCCESS);
    ClearRecords();
    EXPECT_EQ(SetFrequency(471250000), STATUS_SUCCESS);
    EXPECT_TRUE(TunerWrites().empty());
}

TEST_F(SetProperty, CurrentFrequencyIsTunedAgainAfterAModeChange)
{
    Build(2);
    ASSERT_EQ(SetFrequency(100000000), STATUS_SUCCESS);  // TV, low band
    ASSERT_EQ(SetMode(KSPROPERTY_TUNER_MODE_FM_RADIO), STATUS_SUCCESS);
    ClearRecords();
    EXPECT_EQ(SetFrequency(100000000), STATUS_SUCCESS);
    EXPECT_EQ(TunerWrites(), (std::vector<std::vector<uint8_t>>{Bytes({0x08, 0xA6, 0x88, 0xA5})}));
    EXPECT_TRUE(Bench().Pll.Fm());
    EXPECT_EQ(Bench().Pll.ReceivedHz(), 100000000u);

    ASSERT_EQ(SetMode(KSPROPERTY_TUNER_MODE_TV), STATUS_SUCCESS);
    ClearRecords();
    EXPECT_EQ(SetFrequency(100000000), STATUS_SUCCESS);
    EXPECT_EQ(TunerWrites(), (std::vector<std::vector<uint8_t>>{Bytes({0x08, 0xAE, 0xCE, 0xA0})}));
    EXPECT_FALSE(Bench().Pll.Fm());
}

TEST_F(SetProperty, SecamLSwitchesToLPrimeBelow66MHzAndBack)
{
    Build(1);  // its control word follows SECAM L and L'
    ASSERT_EQ(SetStandard(KS_AnalogVideo_SECAM_L), STATUS_SUCCESS);
    ClearRecords();

    EXPECT_EQ(SetFrequency(65999999), STATUS_SUCCESS);
    // L' has its own IF (33.95 MHz) and band word.
    EXPECT_EQ(TunerWrites(), (std::vector<std::vector<uint8_t>>{Bytes({0x06, 0x3F, 0xCE, 0xA2})}));
    EXPECT_EQ(CurrentStandardAsReported(), KS_AnalogVideo_SECAM_L1);
    // The switch is the driver's own: the bridge hears only the country.
    EXPECT_EQ(Notified(), (Seen{{I2C_NOTIFY_COUNTRY, 0}}));

    ClearRecords();
    EXPECT_EQ(SetFrequency(66000000), STATUS_SUCCESS);
    EXPECT_EQ(TunerWrites(), (std::vector<std::vector<uint8_t>>{Bytes({0x06, 0x8E, 0xCE, 0xA3})}));
    EXPECT_EQ(CurrentStandardAsReported(), KS_AnalogVideo_SECAM_L);
}

TEST_F(SetProperty, SecamSwitchThatFailedToTuneIsRepairedByTheOldFrequency)
{
    Build(1);
    ASSERT_EQ(SetStandard(KS_AnalogVideo_SECAM_L), STATUS_SUCCESS);
    ASSERT_EQ(SetFrequency(200000000), STATUS_SUCCESS);
    Bench().Pll.RefuseNextWrites(1);
    EXPECT_EQ(SetFrequency(55250000), STATUS_INVALID_PARAMETER);
    // The switch stays although the tune failed.
    EXPECT_EQ(CurrentStandardAsReported(), KS_AnalogVideo_SECAM_L1);
    EXPECT_EQ(ReportedFrequency().Frequency, 200000000u);

    // 200 MHz is still current, but the module now sits in L': it is tuned
    // again, and in SECAM L.
    ClearRecords();
    EXPECT_EQ(SetFrequency(200000000), STATUS_SUCCESS);
    EXPECT_EQ(CurrentStandardAsReported(), KS_AnalogVideo_SECAM_L);
    // (200 + 38.9 MHz) / 62.5 kHz = 3822, mid band, SECAM L.
    EXPECT_EQ(TunerWrites(), (std::vector<std::vector<uint8_t>>{Bytes({0x0E, 0xEE, 0xCE, 0x93})}));
}

TEST_F(SetProperty, NoSecamSwitchInRadioMode)
{
    Build(12);
    ASSERT_EQ(SetStandard(KS_AnalogVideo_SECAM_L), STATUS_SUCCESS);
    ASSERT_EQ(SetMode(KSPROPERTY_TUNER_MODE_FM_RADIO), STATUS_SUCCESS);
    ClearRecords();
    EXPECT_EQ(SetFrequency(88000000), STATUS_SUCCESS);
    EXPECT_TRUE(DemodulatorWrites().empty());
    EXPECT_EQ(CurrentStandardAsReported(), KS_AnalogVideo_SECAM_L);
    // (88 + 10.7 MHz) / 50 kHz = 1974, the FM word of the module.
    ASSERT_FALSE(TunerWrites().empty());
    EXPECT_EQ(TunerWrites()[0], Bytes({0x07, 0xB6, 0x88, 0x19}));
}

// ---- Standard ------------------------------------------------------------------

TEST_F(SetProperty, StandardProgramsTheDemodulatorAndNotifiesTheBridge)
{
    Build(12);
    EXPECT_EQ(SetStandard(KS_AnalogVideo_PAL_I), STATUS_SUCCESS);
    EXPECT_EQ(DemodulatorWrites(), (std::vector<std::vector<uint8_t>>{Bytes({0x00, 0x16, 0x70, 0x4A})}));
    EXPECT_EQ(Bench().Demodulator.StandardName(), "I");
    EXPECT_EQ(Notified(), (Seen{{I2C_NOTIFY_STANDARD, KS_AnalogVideo_PAL_I}}));
    EXPECT_EQ(CurrentStandardAsReported(), KS_AnalogVideo_PAL_I);

    // The standard already current: nothing on the bus, the bridge told again.
    ClearRecords();
    EXPECT_EQ(SetStandard(KS_AnalogVideo_PAL_I), STATUS_SUCCESS);
    EXPECT_TRUE(Bench().Bus().Trace().empty());
    EXPECT_EQ(Notified(), (Seen{{I2C_NOTIFY_STANDARD, KS_AnalogVideo_PAL_I}}));
}

TEST_F(SetProperty, StandardMustBeOneSupportedStandard)
{
    Build(12);  // 0xD2171
    const uint32_t refused[] = {
        0,
        KS_AnalogVideo_PAL_B | KS_AnalogVideo_PAL_G,  // two supported standards
        KS_AnalogVideo_PAL_B | KS_AnalogVideo_PAL_M,  // one of them unsupported
        KS_AnalogVideo_PAL_M,
        KS_AnalogVideo_NTSC_433,
        0x80000000u,
        0xD2171,
    };
    for (uint32_t standard : refused) {
        SCOPED_TRACE(standard);
        EXPECT_EQ(SetStandard(standard), STATUS_INVALID_PARAMETER);
        EXPECT_EQ(CurrentStandardAsReported(), KS_AnalogVideo_NTSC_M);
        EXPECT_TRUE(Bench().Bus().Trace().empty());
        EXPECT_TRUE(Notified().empty());
    }

    // Radio mode supports no standard at all.
    ASSERT_EQ(SetMode(KSPROPERTY_TUNER_MODE_FM_RADIO), STATUS_SUCCESS);
    ClearRecords();
    EXPECT_EQ(SetStandard(KS_AnalogVideo_PAL_B), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(Bench().Bus().Trace().empty());
    EXPECT_TRUE(Notified().empty());
}

// ---- Mode ------------------------------------------------------------------------

TEST_F(SetProperty, ModeSwitchesCapsAndTellsTheBridge)
{
    Build(2);
    EXPECT_EQ(SetMode(KSPROPERTY_TUNER_MODE_FM_RADIO), STATUS_SUCCESS);
    EXPECT_EQ(ReportedMode(), KSPROPERTY_TUNER_MODE_FM_RADIO);
    EXPECT_EQ(Notified(), (Seen{{I2C_NOTIFY_MODE, KSPROPERTY_TUNER_MODE_FM_RADIO}}));
    // Radio limits now apply.
    EXPECT_EQ(SetFrequency(108000001), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(SetFrequency(87500000), STATUS_SUCCESS);

    // The mode already current: nothing happens.
    ClearRecords();
    EXPECT_EQ(SetMode(KSPROPERTY_TUNER_MODE_FM_RADIO), STATUS_SUCCESS);
    EXPECT_TRUE(Notified().empty());
    EXPECT_TRUE(Bench().Bus().Trace().empty());

    EXPECT_EQ(SetMode(KSPROPERTY_TUNER_MODE_TV), STATUS_SUCCESS);
    EXPECT_EQ(ReportedMode(), KSPROPERTY_TUNER_MODE_TV);
    EXPECT_EQ(Notified(), (Seen{{I2C_NOTIFY_MODE, KSPROPERTY_TUNER_MODE_TV}}));
    EXPECT_EQ(SetFrequency(855250000), STATUS_SUCCESS);
}

TEST_F(SetProperty, ModeMustBeTvOrRadioAndSupported)
{
    struct Case {
        uint32_t Model;
        uint32_t Mode;
    };
    const Case cases[] = {
        {2, 0},
        {2, KSPROPERTY_TUNER_MODE_TV | KSPROPERTY_TUNER_MODE_FM_RADIO},
        {2, KSPROPERTY_TUNER_MODE_AM_RADIO},
        {2, KSPROPERTY_TUNER_MODE_ATSC},
        {2, KSPROPERTY_TUNER_MODE_ATSC | KSPROPERTY_TUNER_MODE_TV},
        {2, 0xFFFFFFFFu},
        {0, KSPROPERTY_TUNER_MODE_FM_RADIO},  // TV only
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.Model << " mode " << c.Mode);
        Build(c.Model);
        EXPECT_EQ(SetMode(c.Mode), STATUS_INVALID_PARAMETER);
        EXPECT_EQ(ReportedMode(), KSPROPERTY_TUNER_MODE_TV);
        EXPECT_TRUE(Notified().empty());
        EXPECT_TRUE(Bench().Bus().Trace().empty());
        // Still the TV range.
        EXPECT_EQ(SetFrequency(471250000), STATUS_SUCCESS);
    }
}

// ---- Input -----------------------------------------------------------------------

TEST_F(SetProperty, InputMustLieBelowTheModeInputCount)
{
    Build(2);
    EXPECT_EQ(SetInput(1), STATUS_SUCCESS);
    EXPECT_EQ(Get<KSPROPERTY_TUNER_INPUT_S>(KSPROPERTY_TUNER_INPUT).Data.InputIndex, 1u);
    EXPECT_EQ(SetInput(1), STATUS_SUCCESS);
    EXPECT_EQ(SetInput(2), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(SetInput(0xFFFFFFFFu), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Get<KSPROPERTY_TUNER_INPUT_S>(KSPROPERTY_TUNER_INPUT).Data.InputIndex, 1u);
    EXPECT_TRUE(Bench().Bus().Trace().empty());

    // Radio mode has no inputs to choose.
    ASSERT_EQ(SetMode(KSPROPERTY_TUNER_MODE_FM_RADIO), STATUS_SUCCESS);
    EXPECT_EQ(SetInput(0), STATUS_INVALID_PARAMETER);
}

// ---- Read-only and unknown properties --------------------------------------------

TEST_F(SetProperty, ReadOnlyAndUnknownIdsCannotBeSet)
{
    Build(2);
    for (ULONG id : {0u, 1u, 6u, 7u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(id);
        // A record large enough for any of them, holding a valid mode and
        // frequency where a handler might look.
        KSPROPERTY_TUNER_CAPS_S record = {};
        record.ModesSupported = KSPROPERTY_TUNER_MODE_FM_RADIO;
        test::PropertyRequest request = test::PropertyRequest::Set(id, record);
        EXPECT_EQ(request.Send(Tuner()), STATUS_INVALID_PARAMETER);
        EXPECT_EQ(request.BytesTransferred(), test::UnwrittenByteCount);
    }
    EXPECT_TRUE(Bench().Bus().Trace().empty());
    EXPECT_TRUE(Notified().empty());
    EXPECT_EQ(ReportedMode(), KSPROPERTY_TUNER_MODE_TV);
}

}  // namespace
