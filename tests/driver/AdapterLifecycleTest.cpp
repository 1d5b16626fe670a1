// An adapter's life through SRBs: start, the requests a client makes, stop,
// and every way a start can fail.
#include <gtest/gtest.h>

#include "sim/Kernel.h"
#include "sim/Registry.h"
#include "sim/chips/IfDemodulator.h"
#include "sim/chips/PllTuner.h"
#include "sim/stream/FilterRegistry.h"
#include "tests/driver/DriverFixture.h"

namespace {

using test::BoardFor;
using test::BusWrites;
using test::DriverTest;
namespace requests = sim::requests;

constexpr uint32_t Fm1216me = 12;  // PLL module with the IF demodulator
constexpr uint32_t Uhf21Hz = 471250000;

class AdapterLifecycle : public DriverTest {};

TEST_F(AdapterLifecycle, RegistersTheDriverWithItsSizesAndRoutines)
{
    auto driver = Driver();
    ASSERT_EQ(driver->EntryStatus(), STATUS_SUCCESS);
    const HW_INITIALIZATION_DATA& data = driver->Registration();
    EXPECT_EQ(data.HwInitializationDataSize, 60u);
    EXPECT_EQ(data.HwInterrupt, nullptr);
    EXPECT_NE(data.HwReceivePacket, nullptr);
    EXPECT_NE(data.HwCancelPacket, nullptr);
    EXPECT_NE(data.HwRequestTimeoutHandler, nullptr);
    EXPECT_EQ(data.DeviceExtensionSize, sizeof(DeviceExtension));
    EXPECT_EQ(data.PerRequestExtensionSize, sizeof(QueueNode));
    EXPECT_EQ(data.PerStreamExtensionSize, 0u);
    EXPECT_EQ(data.FilterInstanceExtensionSize, 0u);
    EXPECT_EQ(data.BufferAlignment, 3u);
    EXPECT_EQ(data.TurnOffSynchronization, TRUE);
    EXPECT_EQ(data.BusMasterDMA, FALSE);
    EXPECT_EQ(data.DmaBufferSize, 0u);
    EXPECT_EQ(data.NumNameExtensions, 0u);
}

TEST_F(AdapterLifecycle, StartsDescribesItselfAndRegistersItsFilter)
{
    sim::Board board(BoardFor(Fm1216me));
    auto adapter = board.CreateAdapter(Driver());
    sim::StartResult start = adapter->Start();
    ASSERT_TRUE(start.Succeeded());

    // The bus is given back between requests; the interface stays borrowed.
    EXPECT_FALSE(board.Bridge().IsOpen());
    EXPECT_EQ(board.Bridge().InterfaceReferences(), 1);
    EXPECT_EQ(adapter->ConfigInfo().StreamDescriptorSize, sizeof(HW_STREAM_HEADER));
    // The first standard was programmed on the bus opened by the start.
    EXPECT_EQ(board.Demodulator()->StandardName(), "B/G");

    ASSERT_EQ(start.StreamInfo->Data.size(), sizeof(HW_STREAM_HEADER));
    std::optional<HW_STREAM_HEADER> header = adapter->StreamHeader();
    ASSERT_TRUE(header);
    EXPECT_EQ(header->NumberOfStreams, 0u);
    ASSERT_EQ(header->NumDevPropArrayEntries, 1u);
    EXPECT_TRUE(IsEqualGuid(*header->DevicePropertiesArray[0].Set, PROPSETID_TUNER));
    EXPECT_EQ(header->DevicePropertiesArray[0].PropertiesCount, 7u);
    EXPECT_EQ(header->Topology->CategoriesCount, 1u);

    std::optional<sim::RegisteredFilter> filter = sim::FindRegisteredFilter(board.RealPhysicalDevice());
    ASSERT_TRUE(filter);
    EXPECT_TRUE(IsEqualGuid(filter->InterfaceClass, KSCATEGORY_TVTUNER));
    ASSERT_EQ(filter->Mediums.size(), 2u);
    EXPECT_TRUE(IsEqualGuid(filter->Mediums[0].Set, TunerVideoMediumGuid));
    EXPECT_TRUE(IsEqualGuid(filter->Mediums[1].Set, TunerTvAudioMediumGuid));

    sim::Result stop = adapter->Stop();
    EXPECT_EQ(stop.Status, STATUS_SUCCESS);
    EXPECT_EQ(board.Bridge().InterfaceReferences(), 0);
}

TEST_F(AdapterLifecycle, ServesAClientsPropertyRequests)
{
    sim::Board board(BoardFor(Fm1216me));
    auto adapter = board.CreateAdapter(Driver());
    ASSERT_TRUE(adapter->Start().Succeeded());

    sim::Result caps = adapter->Send(requests::GetCaps());
    ASSERT_EQ(caps.Status, STATUS_SUCCESS);
    ASSERT_TRUE(caps.As<KSPROPERTY_TUNER_CAPS_S>());
    EXPECT_EQ(caps.As<KSPROPERTY_TUNER_CAPS_S>()->ModesSupported,
              KSPROPERTY_TUNER_MODE_TV | KSPROPERTY_TUNER_MODE_FM_RADIO);
    EXPECT_TRUE(IsEqualGuid(caps.As<KSPROPERTY_TUNER_CAPS_S>()->VideoMedium.Set, TunerVideoMediumGuid));

    sim::Result tvCaps = adapter->Send(requests::GetModeCaps(KSPROPERTY_TUNER_MODE_TV));
    ASSERT_EQ(tvCaps.Status, STATUS_SUCCESS);
    ASSERT_TRUE(tvCaps.As<KSPROPERTY_TUNER_MODE_CAPS_S>());
    const KSPROPERTY_TUNER_MODE_CAPS_S modeCaps = *tvCaps.As<KSPROPERTY_TUNER_MODE_CAPS_S>();
    EXPECT_NE(modeCaps.StandardsSupported & KS_AnalogVideo_SECAM_L, 0u);
    EXPECT_LE(modeCaps.MinFrequency, Uhf21Hz);
    EXPECT_GE(modeCaps.MaxFrequency, Uhf21Hz);

    sim::Result mode = adapter->Send(requests::GetMode());
    EXPECT_EQ(mode.Status, STATUS_SUCCESS);
    ASSERT_TRUE(mode.As<KSPROPERTY_TUNER_MODE_S>());
    EXPECT_EQ(mode.As<KSPROPERTY_TUNER_MODE_S>()->Mode, KSPROPERTY_TUNER_MODE_TV);

    board.Bus().ClearTrace();
    EXPECT_EQ(adapter->Send(requests::SetStandard(KS_AnalogVideo_SECAM_L)).Status, STATUS_SUCCESS);
    EXPECT_EQ(board.Demodulator()->StandardName(), "L");
    EXPECT_EQ(adapter->Send(requests::SetFrequency(Uhf21Hz, 21, 33)).Status, STATUS_SUCCESS);
    EXPECT_NEAR(board.Tuner()->ReceivedHz(), Uhf21Hz, test::HalfStepHz);

    sim::Result frequency = adapter->Send(requests::GetFrequency());
    ASSERT_TRUE(frequency.As<KSPROPERTY_TUNER_FREQUENCY_S>());
    EXPECT_EQ(frequency.As<KSPROPERTY_TUNER_FREQUENCY_S>()->Frequency, Uhf21Hz);
    EXPECT_EQ(frequency.As<KSPROPERTY_TUNER_FREQUENCY_S>()->Channel, 21u);
    EXPECT_EQ(frequency.As<KSPROPERTY_TUNER_FREQUENCY_S>()->Country, 33u);

    EXPECT_EQ(adapter->Send(requests::SetInput(1)).Status, STATUS_SUCCESS);
    EXPECT_EQ(adapter->Send(requests::SetInput(2)).Status, STATUS_INVALID_PARAMETER);

    sim::Result status = adapter->Send(requests::GetStatus());
    EXPECT_EQ(status.Status, STATUS_SUCCESS);
    EXPECT_EQ(status.Data.size(), sizeof(KSPROPERTY_TUNER_STATUS_S));

    EXPECT_EQ(adapter->Send(requests::SetMode(KSPROPERTY_TUNER_MODE_FM_RADIO)).Status, STATUS_SUCCESS);
    EXPECT_EQ(adapter->Send(requests::SetFrequency(100000000)).Status, STATUS_SUCCESS);
    EXPECT_TRUE(board.Tuner()->Fm());
}

TEST_F(AdapterLifecycle, TheClassDriverAnswersPropertyRequestsItCannotPass)
{
    sim::Board board(BoardFor(Fm1216me));
    auto adapter = board.CreateAdapter(Driver());
    ASSERT_TRUE(adapter->Start().Succeeded());
    board.Bus().ClearTrace();

    KSPROPERTY_TUNER_FREQUENCY_S frequency{};
    std::vector<uint8_t> shortRecord(32);
    struct Case {
        const char* Name;
        sim::Request Request;
        NTSTATUS Status;
    };
    GUID otherSet = PROPSETID_TUNER;
    otherSet.Data4[7] ^= 1;
    std::vector<uint8_t> record(sizeof(frequency));
    const Case cases[] = {
        {"unregistered set", requests::Property(false, otherSet, KSPROPERTY_TUNER_FREQUENCY, record),
         sim::STATUS_NOT_FOUND},
        {"unknown id", requests::Property(false, PROPSETID_TUNER, 9, record), sim::STATUS_NOT_FOUND},
        {"set of a get-only property", requests::Property(true, PROPSETID_TUNER, KSPROPERTY_TUNER_CAPS,
                                                          std::vector<uint8_t>(sizeof(KSPROPERTY_TUNER_CAPS_S))),
         sim::STATUS_NOT_FOUND},
        {"short record", requests::Property(true, PROPSETID_TUNER, KSPROPERTY_TUNER_FREQUENCY, shortRecord),
         STATUS_BUFFER_TOO_SMALL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        sim::Result result = adapter->Send(c.Request);
        EXPECT_EQ(result.Status, c.Status);
        EXPECT_TRUE(result.AnsweredByClassDriver);
    }
    EXPECT_TRUE(board.Bus().Trace().empty());
    EXPECT_TRUE(board.Bridge().Notifications().empty());
}

TEST_F(AdapterLifecycle, CommandsWithoutHandlerAreNotImplemented)
{
    sim::Board board(BoardFor(Fm1216me));
    auto adapter = board.CreateAdapter(Driver());
    ASSERT_TRUE(adapter->Start().Succeeded());
    board.Bus().ClearTrace();
    for (SRB_COMMAND command : {SRB_OPEN_STREAM, SRB_CLOSE_STREAM, SRB_OPEN_DEVICE_INSTANCE,
                                SRB_CLOSE_DEVICE_INSTANCE, SRB_PAGING_OUT_DRIVER, SRB_GET_DATA_INTERSECTION,
                                SRB_SURPRISE_REMOVAL, SRB_DEVICE_METHOD, SRB_COMMAND(0x200), SRB_READ_DATA}) {
        SCOPED_TRACE(int(command));
        EXPECT_EQ(adapter->Send(requests::Raw(command)).Status, STATUS_NOT_IMPLEMENTED);
    }
    // A second start would rebuild the tuner under a running queue.
    EXPECT_EQ(adapter->Initialize().Status, STATUS_INVALID_DEVICE_STATE);
    EXPECT_TRUE(board.Bus().Trace().empty());
    EXPECT_EQ(adapter->Send(requests::GetMode()).Status, STATUS_SUCCESS);
}

TEST_F(AdapterLifecycle, RequestsWithoutTheirExtensionsAreRefused)
{
    sim::Board board(BoardFor(Fm1216me));
    auto adapter = board.CreateAdapter(Driver());

    sim::Request start = requests::Raw(SRB_INITIALIZE_DEVICE);
    start.WithRequestExtension = false;
    EXPECT_EQ(adapter->Send(start).Status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(board.Bridge().Counters().Queries, 0u);

    ASSERT_TRUE(adapter->Start().Succeeded());
    board.Bus().ClearTrace();
    for (bool deviceExtension : {false, true}) {
        sim::Request tune = requests::SetFrequency(Uhf21Hz);
        tune.WithDeviceExtension = deviceExtension;
        tune.WithRequestExtension = !deviceExtension;
        EXPECT_EQ(adapter->Send(tune).Status, STATUS_INVALID_PARAMETER);
    }
    EXPECT_TRUE(board.Bus().Trace().empty());
}

// Each way a start fails: the request is refused, the bus is closed, what
// the start took is given back (the kernel's end-of-test check finds any
// pool block left), and no later request reaches the queue.
TEST_F(AdapterLifecycle, AFailedStartGivesEverythingBack)
{
    struct Case {
        const char* Name;
        std::function<void(sim::Board&, sim::AdapterConfig&)> Spoil;
        bool BusTouched;
    };
    const Case cases[] = {
        {"access range", [](sim::Board&, sim::AdapterConfig& config) { config.NumberOfAccessRanges = 1; }, false},
        {"no interface",
         [](sim::Board& board, sim::AdapterConfig&) {
             board.Bridge().SetInterfaceOffer(sim::InterfaceOffer::NotOffered);
         },
         false},
        {"interface without routines",
         [](sim::Board& board, sim::AdapterConfig&) {
             board.Bridge().SetInterfaceOffer(sim::InterfaceOffer::NoAccessRoutine);
         },
         false},
        {"bus refused",
         [](sim::Board& board, sim::AdapterConfig&) { board.Bridge().RefuseOpens(sim::Always); }, false},
        {"unknown model",
         [](sim::Board& board, sim::AdapterConfig&) {
             sim::SetRegistryString(board.RealPhysicalDevice(), u"TunerType", u"FM1216ME ");
         },
         false},
        {"silent EEPROM",
         [](sim::Board& board, sim::AdapterConfig&) {
             sim::SetRegistryString(board.RealPhysicalDevice(), u"EEPROMAddr", u"0xA0");
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        sim::Board board(BoardFor(Fm1216me));
        sim::AdapterConfig config = board.AdapterConfiguration();
        c.Spoil(board, config);
        sim::Adapter adapter(Driver(), config);
        EXPECT_EQ(adapter.Initialize().Status, STATUS_NO_SUCH_DEVICE);
        EXPECT_FALSE(board.Bridge().IsOpen());
        EXPECT_EQ(board.Bridge().InterfaceReferences(), 0);
        if (!c.BusTouched) {
            EXPECT_TRUE(board.Bus().Trace().empty());
        }

        sim::Request tune = requests::SetFrequency(Uhf21Hz);
        tune.ClassDriverChecks = false;  // no stream information came
        EXPECT_EQ(adapter.Send(tune).Status, STATUS_INVALID_DEVICE_STATE);
        EXPECT_EQ(adapter.Send(requests::Raw(SRB_UNINITIALIZE_DEVICE)).Status, STATUS_INVALID_DEVICE_STATE);
        EXPECT_EQ(ExtensionOf(adapter).QueueHead.Flink, nullptr);
    }
}

// Whichever pool allocation of the start fails (among them the filter
// arrays), the start either copes or fails and gives back the rest.
TEST_F(AdapterLifecycle, EveryAllocationOfTheStartMayFail)
{
    uint64_t startAllocations = 0;
    {
        sim::Board board(BoardFor(Fm1216me));
        auto adapter = board.CreateAdapter(Driver());
        uint64_t before = sim::PoolAllocationCount();
        ASSERT_EQ(adapter->Initialize().Status, STATUS_SUCCESS);
        startAllocations = sim::PoolAllocationCount() - before;
    }
    ASSERT_GE(startAllocations, 2u);
    int failedStarts = 0;
    for (uint32_t n = 1; n <= startAllocations; ++n) {
        SCOPED_TRACE(n);
        sim::Board board(BoardFor(Fm1216me));
        auto adapter = board.CreateAdapter(Driver());
        sim::FailNthAllocation(n);
        NTSTATUS status = adapter->Initialize().Status;
        sim::ClearPoolFaults();
        if (status == STATUS_SUCCESS) continue;
        ++failedStarts;
        EXPECT_EQ(status, STATUS_NO_SUCH_DEVICE);
        EXPECT_FALSE(board.Bridge().IsOpen());
        EXPECT_EQ(board.Bridge().InterfaceReferences(), 0);
        EXPECT_TRUE(sim::OutstandingPool().empty());
    }
    EXPECT_GE(failedStarts, 2);  // at least the two filter arrays are not optional
}

TEST_F(AdapterLifecycle, AStartCanBeRetriedAfterItFailed)
{
    sim::Board board(BoardFor(Fm1216me));
    sim::SetRegistryString(board.RealPhysicalDevice(), u"TunerType", u"no such module");
    auto adapter = board.CreateAdapter(Driver());
    EXPECT_EQ(adapter->Initialize().Status, STATUS_NO_SUCH_DEVICE);

    sim::SetRegistryString(board.RealPhysicalDevice(), u"TunerType", u"fm1216me");
    sim::StartResult retry = adapter->Start();
    EXPECT_TRUE(retry.Succeeded());
    EXPECT_EQ(board.Bridge().InterfaceReferences(), 1);
    EXPECT_EQ(adapter->Send(requests::SetFrequency(Uhf21Hz)).Status, STATUS_SUCCESS);
}

}  // namespace
