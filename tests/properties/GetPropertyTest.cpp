// Property gets: the records, byte counts and statuses a client receives.
#include <gtest/gtest.h>

#include "platform/Status.h"
#include "tests/properties/PropertyTest.h"

namespace {

using GetPropertyTest = PropertyTest;
using test::StaleDataByte;
using test::UnwrittenByteCount;

KSPIN_MEDIUM Medium(const GUID& set)
{
    KSPIN_MEDIUM medium = {};
    medium.Set = set;
    return medium;
}

TEST_F(GetPropertyTest, OneValueGetsAnswerTheirWholeRecord)
{
    Build(2);
    ASSERT_EQ(SetFrequency(471250000, 21, 49), STATUS_SUCCESS);
    KSPROPERTY_TUNER_INPUT_S input = {};
    input.InputIndex = 1;
    ASSERT_EQ(Set(KSPROPERTY_TUNER_INPUT, input).Status, STATUS_SUCCESS);
    ASSERT_EQ(SetStandard(KS_AnalogVideo_PAL_G), STATUS_SUCCESS);
    ClearRecords();

    // The stale bytes of the data buffer never come back; only the standard
    // answer carries the request's header.
    KSPROPERTY_TUNER_MODE_S mode = {};
    mode.Mode = KSPROPERTY_TUNER_MODE_TV;
    auto modeReply = Get<KSPROPERTY_TUNER_MODE_S>(KSPROPERTY_TUNER_MODE);
    EXPECT_EQ(modeReply.Status, STATUS_SUCCESS);
    EXPECT_EQ(modeReply.BytesTransferred, 32u);
    EXPECT_EQ(Hex(modeReply.Data), Hex(mode));

    KSPROPERTY_TUNER_STANDARD_S standard = {};
    standard.Property = TunerHeader(KSPROPERTY_TUNER_STANDARD);
    standard.Standard = KS_AnalogVideo_PAL_G;
    auto standardReply = Get<KSPROPERTY_TUNER_STANDARD_S>(KSPROPERTY_TUNER_STANDARD);
    EXPECT_EQ(standardReply.Status, STATUS_SUCCESS);
    EXPECT_EQ(standardReply.BytesTransferred, 32u);
    EXPECT_EQ(Hex(standardReply.Data), Hex(standard));

    KSPROPERTY_TUNER_INPUT_S inputAnswer = {};
    inputAnswer.InputIndex = 1;
    auto inputReply = Get<KSPROPERTY_TUNER_INPUT_S>(KSPROPERTY_TUNER_INPUT);
    EXPECT_EQ(inputReply.Status, STATUS_SUCCESS);
    EXPECT_EQ(inputReply.BytesTransferred, 32u);
    EXPECT_EQ(Hex(inputReply.Data), Hex(inputAnswer));

    KSPROPERTY_TUNER_FREQUENCY_S frequency = {};
    frequency.Frequency = 471250000;
    frequency.Channel = 21;
    frequency.Country = 49;
    KSPROPERTY_TUNER_FREQUENCY_S asked = {};
    asked.LastFrequency = 1;
    asked.TuningFlags = KS_TUNER_TUNING_FINE;
    auto frequencyReply = Get<KSPROPERTY_TUNER_FREQUENCY_S>(KSPROPERTY_TUNER_FREQUENCY, asked);
    EXPECT_EQ(frequencyReply.Status, STATUS_SUCCESS);
    EXPECT_EQ(frequencyReply.BytesTransferred, 56u);
    EXPECT_EQ(Hex(frequencyReply.Data), Hex(frequency));

    // These gets never touch the hardware.
    EXPECT_TRUE(Bench().Bus().Trace().empty());
}

TEST_F(GetPropertyTest, CapsReportModesAndTheRegisteredMediumsByPinCount)
{
    const KSPIN_MEDIUM none = {};
    struct Case {
        uint32_t Pins;
        KSPIN_MEDIUM Video, TvAudio, RadioAudio;
    };
    const Case cases[] = {
        {1, none, none, Medium(TunerRadioAudioMediumGuid)},
        {2, Medium(TunerVideoMediumGuid), Medium(TunerTvAudioMediumGuid), none},
        {3, Medium(TunerVideoMediumGuid), Medium(TunerTvAudioMediumGuid), Medium(TunerRadioAudioMediumGuid)},
    };
    Build(2);
    DEVICE_OBJECT pdo = {};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Pins);
        PrepareFilter(c.Pins);
        ASSERT_EQ(RegisterFilter(&pdo), STATUS_SUCCESS);
        KSPROPERTY_TUNER_CAPS_S expected = {};
        expected.Property = TunerHeader(KSPROPERTY_TUNER_CAPS);
        expected.ModesSupported = KSPROPERTY_TUNER_MODE_TV | KSPROPERTY_TUNER_MODE_FM_RADIO;
        expected.VideoMedium = c.Video;
        expected.TVAudioMedium = c.TvAudio;
        expected.RadioAudioMedium = c.RadioAudio;

        auto reply = Get<KSPROPERTY_TUNER_CAPS_S>(KSPROPERTY_TUNER_CAPS);
        EXPECT_EQ(reply.Status, STATUS_SUCCESS);
        EXPECT_EQ(reply.BytesTransferred, 104u);
        EXPECT_EQ(Hex(reply.Data), Hex(expected));
    }
}

TEST_F(GetPropertyTest, CapsWithoutMediumArrayReportAllZeroMediums)
{
    Build(0);
    PrepareFilter(2);
    TunerDevice& tuner = Tuner();
    KSPIN_MEDIUM* mediums = tuner.Mediums;
    tuner.Mediums = nullptr;

    KSPROPERTY_TUNER_CAPS_S expected = {};
    expected.Property = TunerHeader(KSPROPERTY_TUNER_CAPS);
    expected.ModesSupported = KSPROPERTY_TUNER_MODE_TV;
    auto reply = Get<KSPROPERTY_TUNER_CAPS_S>(KSPROPERTY_TUNER_CAPS);
    tuner.Mediums = mediums;
    EXPECT_EQ(reply.Status, STATUS_SUCCESS);
    EXPECT_EQ(reply.BytesTransferred, 104u);
    EXPECT_EQ(Hex(reply.Data), Hex(expected));
}

TEST_F(GetPropertyTest, ModeCapsAnswerTheModeNamedInTheRequestInput)
{
    struct Case {
        uint32_t Model;
        ULONG Mode;
        NTSTATUS Status;
        ULONG Bytes;
        ModeCaps Caps;  // all zero where nothing is reported
    };
    const Case cases[] = {
        {2, KSPROPERTY_TUNER_MODE_TV, STATUS_SUCCESS, 56, {0xD051, 48250000, 855250000, 62500, 2, 150, 1}},
        {2, KSPROPERTY_TUNER_MODE_FM_RADIO, STATUS_SUCCESS, 56, {0, 87500000, 108000000, 50000, 0, 150, 1}},
        {4, KSPROPERTY_TUNER_MODE_FM_RADIO, STATUS_SUCCESS, 56, {0, 76000000, 108000000, 50000, 0, 150, 1}},
        {12, KSPROPERTY_TUNER_MODE_TV, STATUS_SUCCESS, 56, {0xD2171, 45250000, 864250000, 62500, 2, 150, 1}},
        // Both modes supported, yet no single mode: no values, 56 bytes.
        {2, KSPROPERTY_TUNER_MODE_TV | KSPROPERTY_TUNER_MODE_FM_RADIO, STATUS_INVALID_PARAMETER, 56, {}},
        // A mode the module lacks: no byte count.
        {0, KSPROPERTY_TUNER_MODE_FM_RADIO, STATUS_INVALID_PARAMETER, UnwrittenByteCount, {}},
        {2, 0, STATUS_INVALID_PARAMETER, UnwrittenByteCount, {}},
        {2, KSPROPERTY_TUNER_MODE_ATSC, STATUS_INVALID_PARAMETER, UnwrittenByteCount, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.Model << " mode " << c.Mode);
        Build(c.Model);
        KSPROPERTY_TUNER_MODE_CAPS_S input = {};
        input.Mode = c.Mode;
        auto reply = Get<KSPROPERTY_TUNER_MODE_CAPS_S>(KSPROPERTY_TUNER_MODE_CAPS, input);
        EXPECT_EQ(reply.Status, c.Status);
        EXPECT_EQ(reply.BytesTransferred, c.Bytes);

        KSPROPERTY_TUNER_MODE_CAPS_S expected = {};
        expected.Property = TunerHeader(KSPROPERTY_TUNER_MODE_CAPS);
        expected.StandardsSupported = c.Caps.StandardsSupported;
        expected.MinFrequency = c.Caps.MinFrequency;
        expected.MaxFrequency = c.Caps.MaxFrequency;
        expected.TuningGranularity = c.Caps.TuningGranularity;
        expected.NumberOfInputs = c.Caps.NumberOfInputs;
        expected.SettlingTime = c.Caps.SettlingTime;
        expected.Strategy = c.Caps.Strategy;
        EXPECT_EQ(Hex(reply.Data), Hex(expected));
    }
}

TEST_F(GetPropertyTest, StatusReportsLockOffsetAndFrequencyFromTheModule)
{
    Build(0);
    ASSERT_EQ(SetFrequency(55250000), STATUS_SUCCESS);
    struct Case {
        uint8_t StatusByte;  // bit 6 locked, bits 0 to 2 the offset code (2 = on frequency)
        ULONG Busy, Offset, Frequency;
    };
    const Case cases[] = {
        {0x42, 0, 0, 55250000},
        {0x40, 0, static_cast<ULONG>(-2), 55250000},
        {0x44, 0, 2, 55250000},
        {0x03, 1, 0, 0},  // not locked: neither offset nor frequency
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.StatusByte));
        Bench().Pll.PinStatus(c.StatusByte);
        const uint32_t readsBefore = Bench().Pll.StatusReads();
        auto reply = Get<KSPROPERTY_TUNER_STATUS_S>(KSPROPERTY_TUNER_STATUS);
        EXPECT_EQ(reply.Status, STATUS_SUCCESS);
        EXPECT_EQ(reply.BytesTransferred, 40u);
        KSPROPERTY_TUNER_STATUS_S expected = {};
        expected.Busy = c.Busy;
        expected.PLLOffset = c.Offset;
        expected.CurrentFrequency = c.Frequency;
        EXPECT_EQ(Hex(reply.Data), Hex(expected));
        EXPECT_EQ(Bench().Pll.StatusReads(), readsBefore + 1);
    }
}

TEST_F(GetPropertyTest, StatusThatCannotBeReadWritesNothing)
{
    Build(0);
    Bench().Bridge().ErrorAtByte(1);
    test::PropertyRequest request = test::PropertyRequest::Get(KSPROPERTY_TUNER_STATUS, KSPROPERTY_TUNER_STATUS_S{});
    EXPECT_EQ(request.Send(Tuner()), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(request.BytesTransferred(), UnwrittenByteCount);
    for (size_t i = 0; i < request.Size(); ++i) ASSERT_EQ(request.Data()[i], StaleDataByte) << "byte " << i;
}

TEST_F(GetPropertyTest, UnknownIdsAreRefusedWithoutAnAnswer)
{
    Build(2);
    for (ULONG id : {7u, 8u, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(id);
        test::PropertyRequest request = test::PropertyRequest::Get(id, KSPROPERTY_TUNER_CAPS_S{});
        EXPECT_EQ(request.Send(Tuner()), STATUS_INVALID_PARAMETER);
        EXPECT_EQ(request.BytesTransferred(), UnwrittenByteCount);
        for (size_t i = 0; i < request.Size(); ++i) ASSERT_EQ(request.Data()[i], StaleDataByte) << "byte " << i;
    }
}

}  // namespace
