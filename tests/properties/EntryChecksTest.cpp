// Requests that do not carry a whole tuner property request are refused by
// both handlers before anything happens.
#include <gtest/gtest.h>

#include <functional>

#include "platform/Status.h"
#include "tests/properties/PropertyTest.h"

namespace {

using EntryChecksTest = PropertyTest;
using test::PropertyRequest;

struct Breakage {
    std::string Name;
    std::function<void(PropertyRequest&)> Apply;
};

std::vector<Breakage> Breakages()
{
    std::vector<Breakage> all = {
        {"no property descriptor", [](PropertyRequest& r) { r.Srb().CommandData.PropertyInfo = nullptr; }},
        {"no data buffer", [](PropertyRequest& r) { r.Descriptor().PropertyInfo = nullptr; }},
        {"no property", [](PropertyRequest& r) { r.Descriptor().Property = nullptr; }},
    };
    for (int byte = 0; byte < 16; ++byte) {
        all.push_back({"set GUID byte " + std::to_string(byte), [byte](PropertyRequest& r) {
                           reinterpret_cast<uint8_t*>(&r.Property().Set)[byte] ^= 0x01;
                       }});
    }
    return all;
}

TEST_F(EntryChecksTest, BrokenGetsAreRefusedAndAnswerNothing)
{
    Build(2);
    PrepareFilter(2);
    for (const Breakage& breakage : Breakages()) {
        SCOPED_TRACE(breakage.Name);
        PropertyRequest request = PropertyRequest::Get(KSPROPERTY_TUNER_CAPS, KSPROPERTY_TUNER_CAPS_S{});
        breakage.Apply(request);
        EXPECT_EQ(request.Send(Tuner()), STATUS_INVALID_PARAMETER);
        EXPECT_EQ(request.BytesTransferred(), test::UnwrittenByteCount);
        for (size_t i = 0; i < request.Size(); ++i) {
            ASSERT_EQ(request.Data()[i], test::StaleDataByte) << "byte " << i;
        }
    }
}

TEST_F(EntryChecksTest, BrokenSetsAreRefusedAndChangeNothing)
{
    Build(2);
    for (const Breakage& breakage : Breakages()) {
        SCOPED_TRACE(breakage.Name);
        KSPROPERTY_TUNER_FREQUENCY_S record = {};
        record.Frequency = 100000000;
        record.Channel = 5;
        record.Country = 44;
        PropertyRequest request = PropertyRequest::Set(KSPROPERTY_TUNER_FREQUENCY, record);
        breakage.Apply(request);
        EXPECT_EQ(request.Send(Tuner()), STATUS_INVALID_PARAMETER);
        // Not even the country, which a valid request stores before its checks.
        EXPECT_EQ(Tuner().CountryCode, 0u);
        EXPECT_EQ(Tuner().CurrentFrequency, 0u);
        EXPECT_TRUE(Notifications().empty());
        EXPECT_TRUE(Bench().Bus().Trace().empty());
    }
    // The same request unbroken goes through.
    EXPECT_EQ(SetFrequency(100000000, 5, 44), STATUS_SUCCESS);
    EXPECT_EQ(Tuner().CountryCode, 44u);
}

}  // namespace
