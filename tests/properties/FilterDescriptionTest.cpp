// The filter as the class driver learns it: the property table, the stream
// header with its topology, and the registration with the pin mediums.
#include <gtest/gtest.h>

#include "platform/Status.h"
#include "sim/stream/FilterRegistry.h"
#include "tests/properties/PropertyTest.h"

namespace {

using FilterDescriptionTest = PropertyTest;

TEST_F(FilterDescriptionTest, PropertyTableHasTheSevenTunerPropertiesWithRecordSizes)
{
    Build(0);
    PrepareFilter(2);
    const TunerDevice& tuner = Tuner();

    EXPECT_EQ(tuner.PropertySet.Set, &PROPSETID_TUNER);
    EXPECT_TRUE(IsEqualGuid(*tuner.PropertySet.Set, PROPSETID_TUNER));
    EXPECT_EQ(tuner.PropertySet.PropertiesCount, 7u);
    EXPECT_EQ(tuner.PropertySet.PropertyItem, tuner.PropertyItems);
    EXPECT_EQ(tuner.PropertySet.FastIoCount, 0u);
    EXPECT_EQ(tuner.PropertySet.FastIoTable, nullptr);

    struct Row {
        ULONG Id;
        uintptr_t Get, Set;  // the whole handler member: a flag, no other bits
        ULONG Size, Serialized;
    };
    const Row rows[] = {
        {KSPROPERTY_TUNER_CAPS, 1, 0, 104, 0},
        {KSPROPERTY_TUNER_MODE_CAPS, 1, 0, 56, 0},
        {KSPROPERTY_TUNER_MODE, 1, 1, 32, 0},
        {KSPROPERTY_TUNER_STANDARD, 1, 1, 32, 32},
        {KSPROPERTY_TUNER_FREQUENCY, 1, 1, 56, 56},
        {KSPROPERTY_TUNER_INPUT, 1, 1, 32, 32},
        {KSPROPERTY_TUNER_STATUS, 1, 0, 40, 40},
    };
    for (size_t i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        const KSPROPERTY_ITEM& item = tuner.PropertyItems[i];
        EXPECT_EQ(item.PropertyId, rows[i].Id);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(item.GetPropertyHandler), rows[i].Get);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(item.SetPropertyHandler), rows[i].Set);
        EXPECT_EQ(item.MinProperty, rows[i].Size);
        EXPECT_EQ(item.MinData, rows[i].Size);
        EXPECT_EQ(item.SerializedSize, rows[i].Serialized);
        EXPECT_EQ(item.Values, nullptr);
        EXPECT_EQ(item.RelationsCount, 0u);
        EXPECT_EQ(item.Relations, nullptr);
        EXPECT_EQ(item.SupportHandler, nullptr);
    }
}

TEST_F(FilterDescriptionTest, StreamInfoHandsOutTheHeaderAloneWithOneCategoryAndNoStreams)
{
    Build(0);
    PrepareFilter(2);
    TunerDevice& tuner = Tuner();

    HW_STREAM_DESCRIPTOR descriptor;
    std::memset(&descriptor, 0xA5, sizeof(descriptor));
    HW_STREAM_REQUEST_BLOCK srb = {};
    srb.Command = SRB_GET_STREAM_INFO;
    srb.Status = STATUS_PENDING;
    srb.CommandData.StreamBuffer = &descriptor;
    tuner.GetStreamInfo(&srb);

    EXPECT_EQ(srb.Status, STATUS_SUCCESS);
    const HW_STREAM_HEADER& header = descriptor.StreamHeader;
    EXPECT_EQ(header.NumberOfStreams, 0u);
    EXPECT_EQ(header.SizeOfHwStreamInformation, 80u);
    EXPECT_EQ(header.NumDevPropArrayEntries, 1u);
    EXPECT_EQ(header.DevicePropertiesArray, &tuner.PropertySet);
    EXPECT_EQ(header.NumDevEventArrayEntries, 0u);
    EXPECT_EQ(header.DeviceEventsArray, nullptr);
    EXPECT_EQ(header.DeviceEventRoutine, nullptr);
    EXPECT_EQ(header.NumDevMethodArrayEntries, 0);
    EXPECT_EQ(header.DeviceMethodsArray, nullptr);

    ASSERT_EQ(header.Topology, &tuner.FilterTopology);
    const KSTOPOLOGY& topology = *header.Topology;
    ASSERT_EQ(topology.CategoriesCount, 1u);
    EXPECT_TRUE(IsEqualGuid(topology.Categories[0], KSCATEGORY_TVTUNER));
    EXPECT_EQ(topology.TopologyNodesCount, 0u);
    EXPECT_EQ(topology.TopologyNodes, nullptr);
    EXPECT_EQ(topology.TopologyConnectionsCount, 0u);
    EXPECT_EQ(topology.TopologyConnections, nullptr);
    EXPECT_EQ(topology.TopologyNodesNames, nullptr);
    EXPECT_EQ(topology.Reserved, 0u);

    // The start announced a descriptor of the header alone.
    const uint8_t* behind = reinterpret_cast<const uint8_t*>(&descriptor.StreamInfo);
    for (size_t i = 0; i < sizeof(descriptor.StreamInfo); ++i) {
        ASSERT_EQ(behind[i], 0xA5) << "byte " << i << " behind the header";
    }
}

TEST_F(FilterDescriptionTest, RegistersOneOutputPinPerMediumOnThePhysicalDevice)
{
    struct Case {
        uint32_t Pins;
        std::vector<GUID> Mediums;
    };
    const Case cases[] = {
        {1, {TunerRadioAudioMediumGuid}},
        {2, {TunerVideoMediumGuid, TunerTvAudioMediumGuid}},
        {3, {TunerVideoMediumGuid, TunerTvAudioMediumGuid, TunerRadioAudioMediumGuid}},
    };
    Build(2);
    DEVICE_OBJECT pdo = {};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Pins);
        PrepareFilter(c.Pins);
        ASSERT_EQ(RegisterFilter(&pdo), STATUS_SUCCESS);

        auto filter = sim::FindRegisteredFilter(&pdo);
        ASSERT_TRUE(filter);
        EXPECT_TRUE(IsEqualGuid(filter->InterfaceClass, KSCATEGORY_TVTUNER));
        EXPECT_TRUE(filter->PinCategories.empty());
        ASSERT_EQ(filter->Mediums.size(), c.Pins);
        for (uint32_t pin = 0; pin < c.Pins; ++pin) {
            SCOPED_TRACE(pin);
            EXPECT_EQ(filter->PinDirections[pin], TRUE);
            EXPECT_TRUE(IsEqualGuid(filter->Mediums[pin].Set, c.Mediums[pin]));
            EXPECT_EQ(filter->Mediums[pin].Id, 0u);
            EXPECT_EQ(filter->Mediums[pin].Flags, 0u);
        }
    }
    EXPECT_EQ(sim::RegisteredFilterCount(), 1u);
}

TEST_F(FilterDescriptionTest, RegistrationStatusIsTheRequestStatus)
{
    Build(0);
    PrepareFilter(2);
    DEVICE_OBJECT pdo = {};
    sim::FailFilterRegistration(STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(RegisterFilter(&pdo), STATUS_INSUFFICIENT_RESOURCES);
    sim::FailFilterRegistration(static_cast<NTSTATUS>(0xC0000010u));
    EXPECT_EQ(RegisterFilter(&pdo), static_cast<NTSTATUS>(0xC0000010u));
    EXPECT_FALSE(sim::FindRegisteredFilter(&pdo));
}

TEST_F(FilterDescriptionTest, WithoutMediumArraysNothingIsRegistered)
{
    Build(0);
    PrepareFilter(2);
    TunerDevice& tuner = Tuner();
    KSPIN_MEDIUM* mediums = tuner.Mediums;
    tuner.Mediums = nullptr;
    DEVICE_OBJECT pdo = {};
    EXPECT_EQ(RegisterFilter(&pdo), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(sim::FilterRegistrationCalls(), 0u);
    tuner.Mediums = mediums;
}

}  // namespace
