// The simulated class driver's filter registration: what it keeps and what
// it refuses.
#include <gtest/gtest.h>

#include "platform/Status.h"
#include "platform/StreamClass.h"
#include "sim/stream/FilterRegistry.h"
#include "tests/support/KernelTest.h"

namespace {

class FilterRegistryTest : public KernelTest {
protected:
    DEVICE_OBJECT device_ = {};
    BOOL directions_[2] = {TRUE, FALSE};
    KSPIN_MEDIUM mediums_[2] = {{TunerVideoMediumGuid, 0, 0}, {TunerTvAudioMediumGuid, 1, 0}};
};

TEST_F(FilterRegistryTest, KeepsACopyOfWhatItWasGivenPerDevice)
{
    GUID categories[2] = {KSCATEGORY_TVTUNER, GUID_NULL};
    ASSERT_EQ(StreamClassRegisterFilterWithNoKSPins(&device_, &KSCATEGORY_TVTUNER, 2, directions_, mediums_,
                                                    categories),
              STATUS_SUCCESS);
    // The caller may reuse its arrays at once.
    directions_[0] = FALSE;
    mediums_[0].Id = 7;
    categories[0] = GUID_NULL;

    auto filter = sim::FindRegisteredFilter(&device_);
    ASSERT_TRUE(filter);
    EXPECT_TRUE(IsEqualGuid(filter->InterfaceClass, KSCATEGORY_TVTUNER));
    ASSERT_EQ(filter->PinDirections.size(), 2u);
    EXPECT_EQ(filter->PinDirections[0], TRUE);
    EXPECT_EQ(filter->PinDirections[1], FALSE);
    ASSERT_EQ(filter->Mediums.size(), 2u);
    EXPECT_TRUE(IsEqualGuid(filter->Mediums[0].Set, TunerVideoMediumGuid));
    EXPECT_EQ(filter->Mediums[0].Id, 0u);
    EXPECT_TRUE(IsEqualGuid(filter->Mediums[1].Set, TunerTvAudioMediumGuid));
    EXPECT_EQ(filter->Mediums[1].Id, 1u);
    ASSERT_EQ(filter->PinCategories.size(), 2u);
    EXPECT_TRUE(IsEqualGuid(filter->PinCategories[0], KSCATEGORY_TVTUNER));
    EXPECT_EQ(filter->Registrations, 1u);

    DEVICE_OBJECT other = {};
    EXPECT_FALSE(sim::FindRegisteredFilter(&other));

    // Registering again replaces the description.
    ASSERT_EQ(StreamClassRegisterFilterWithNoKSPins(&device_, &KSCATEGORY_TVTUNER, 1, directions_, mediums_,
                                                    nullptr),
              STATUS_SUCCESS);
    filter = sim::FindRegisteredFilter(&device_);
    ASSERT_TRUE(filter);
    EXPECT_EQ(filter->Mediums.size(), 1u);
    EXPECT_EQ(filter->Mediums[0].Id, 7u);
    EXPECT_TRUE(filter->PinCategories.empty());
    EXPECT_EQ(filter->Registrations, 2u);
    EXPECT_EQ(sim::RegisteredFilterCount(), 1u);
}

TEST_F(FilterRegistryTest, RefusesArgumentsAStrictClassDriverRefuses)
{
    struct Case {
        const char* Name;
        KIRQL Irql;
        bool Device, Category, Directions, Mediums;
        ULONG Pins;
        const char* Message;
    };
    const Case cases[] = {
        {"dispatch level", DISPATCH_LEVEL, true, true, true, true, 2, "above APC_LEVEL"},
        {"no device", PASSIVE_LEVEL, false, true, true, true, 2, "device object"},
        {"no category", PASSIVE_LEVEL, true, false, true, true, 2, "interface class"},
        {"no pins", PASSIVE_LEVEL, true, true, true, true, 0, "no pins"},
        {"no directions", PASSIVE_LEVEL, true, true, false, true, 2, "pin directions"},
        {"no mediums", PASSIVE_LEVEL, true, true, true, false, 2, "mediums"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        sim::ViolationCapture violations;
        NTSTATUS status;
        {
            sim::IrqlScope irql(c.Irql);
            status = StreamClassRegisterFilterWithNoKSPins(c.Device ? &device_ : nullptr,
                                                           c.Category ? &KSCATEGORY_TVTUNER : nullptr, c.Pins,
                                                           c.Directions ? directions_ : nullptr,
                                                           c.Mediums ? mediums_ : nullptr, nullptr);
        }
        EXPECT_EQ(status, STATUS_INVALID_PARAMETER);
        EXPECT_TRUE(violations.Contains(c.Message)) << (violations.Messages().empty() ? "" : violations.Messages()[0]);
        EXPECT_EQ(sim::RegisteredFilterCount(), 0u);
    }
    // APC_LEVEL is still allowed.
    sim::IrqlScope irql(APC_LEVEL);
    EXPECT_EQ(StreamClassRegisterFilterWithNoKSPins(&device_, &KSCATEGORY_TVTUNER, 2, directions_, mediums_, nullptr),
              STATUS_SUCCESS);
}

TEST_F(FilterRegistryTest, InjectedFailureIsReturnedAndRecordsNothingUntilTheNextReset)
{
    sim::FailFilterRegistration(STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(StreamClassRegisterFilterWithNoKSPins(&device_, &KSCATEGORY_TVTUNER, 2, directions_, mediums_, nullptr),
              STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_FALSE(sim::FindRegisteredFilter(&device_));
    EXPECT_EQ(sim::FilterRegistrationCalls(), 1u);

    sim::Reset();
    EXPECT_EQ(sim::FilterRegistrationCalls(), 0u);
    EXPECT_EQ(StreamClassRegisterFilterWithNoKSPins(&device_, &KSCATEGORY_TVTUNER, 2, directions_, mediums_, nullptr),
              STATUS_SUCCESS);
    EXPECT_TRUE(sim::FindRegisteredFilter(&device_));
}

}  // namespace
