// The simulated class driver as test equipment: a minidriver that breaks a
// rule of the class driver's contract must make it complain.
#include <gtest/gtest.h>

#include <functional>

#include "platform/Hal.h"
#include "sim/Kernel.h"
#include "sim/stream/Requests.h"
#include "sim/stream/StreamClass.h"
#include "tests/support/KernelTest.h"

namespace {

enum class Fault {
    None,
    CompleteTwice,
    NeverComplete,
    WriteAfterCompletion,
    CompleteHoldingLock,
    ReturnHoldingLock,
    WriteExtensionAfterStop,
    ShortCountOverrun,
};

Fault fault = Fault::None;
KSPIN_LOCK fakeLock = 0;
std::function<void(HW_INITIALIZATION_DATA&)> spoilRegistration;

void Complete(HW_STREAM_REQUEST_BLOCK* srb)
{
    StreamClassDeviceNotification(DeviceRequestComplete, srb->HwDeviceExtension, srb);
}

void NTAPI FakeReceive(HW_STREAM_REQUEST_BLOCK* srb)
{
    auto* extension = static_cast<uint32_t*>(srb->HwDeviceExtension);
    bool stop = srb->Command == SRB_UNINITIALIZE_DEVICE;
    srb->Status = STATUS_SUCCESS;
    switch (fault) {
    case Fault::None:
        Complete(srb);
        break;
    case Fault::CompleteTwice:
        Complete(srb);
        Complete(srb);
        break;
    case Fault::NeverComplete:
        break;
    case Fault::WriteAfterCompletion:
        Complete(srb);
        srb->Status = STATUS_CANCELLED;
        break;
    case Fault::CompleteHoldingLock: {
        KIRQL irql = KfAcquireSpinLock(&fakeLock);
        Complete(srb);
        KfReleaseSpinLock(&fakeLock, irql);
        break;
    }
    case Fault::ReturnHoldingLock:
        KfAcquireSpinLock(&fakeLock);
        Complete(srb);
        break;
    case Fault::WriteExtensionAfterStop:
        Complete(srb);
        if (stop) extension[0] = 1;
        break;
    case Fault::ShortCountOverrun:
        srb->ActualBytesTransferred = 4096;
        Complete(srb);
        break;
    }
}

void NTAPI FakeCancel(HW_STREAM_REQUEST_BLOCK*) {}

NTSTATUS NTAPI FakeEntry(DRIVER_OBJECT* driverObject, UNICODE_STRING* registryPath)
{
    HW_INITIALIZATION_DATA data{};
    data.HwInitializationDataSize = sizeof(data);
    data.HwReceivePacket = FakeReceive;
    data.HwCancelPacket = FakeCancel;
    data.HwRequestTimeoutHandler = FakeCancel;
    data.DeviceExtensionSize = 64;
    data.PerRequestExtensionSize = 12;
    data.BufferAlignment = 3;
    data.TurnOffSynchronization = TRUE;
    if (spoilRegistration) spoilRegistration(data);
    return StreamClassRegisterAdapter(driverObject, registryPath, &data);
}

class ClassDriverChecks : public KernelTest {
protected:
    void SetUp() override
    {
        KernelTest::SetUp();
        fault = Fault::None;
        fakeLock = 0;
        spoilRegistration = nullptr;
    }
    void TearDown() override
    {
        fault = Fault::None;
        spoilRegistration = nullptr;
        KernelTest::TearDown();
    }

    // A request the fake completes, whatever it is.
    static sim::Request AnyRequest() { return sim::requests::Raw(SRB_OPEN_STREAM); }
};

TEST_F(ClassDriverChecks, RefusesAFaultyRegistrationRecord)
{
    struct Case {
        const char* Name;
        std::function<void(HW_INITIALIZATION_DATA&)> Spoil;
        NTSTATUS Status;
        const char* Complaint;
    };
    const Case cases[] = {
        {"size", [](auto& d) { d.HwInitializationDataSize = 56; }, sim::STATUS_REVISION_MISMATCH, "size 56"},
        {"cancel", [](auto& d) { d.HwCancelPacket = nullptr; }, STATUS_INVALID_PARAMETER, "no HwCancelPacket"},
        {"timeout", [](auto& d) { d.HwRequestTimeoutHandler = nullptr; }, STATUS_INVALID_PARAMETER,
         "no HwRequestTimeoutHandler"},
        {"extension", [](auto& d) { d.DeviceExtensionSize = 0; }, STATUS_INVALID_PARAMETER, "DeviceExtensionSize 0"},
        {"alignment", [](auto& d) { d.BufferAlignment = 4; }, STATUS_INVALID_PARAMETER, "BufferAlignment 4"},
        {"dma", [](auto& d) { d.BusMasterDMA = TRUE; }, STATUS_INVALID_PARAMETER, "DMA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        spoilRegistration = c.Spoil;
        sim::ViolationCapture capture;
        auto driver = sim::LoadDriver(FakeEntry);
        EXPECT_EQ(driver->EntryStatus(), c.Status);
        EXPECT_FALSE(driver->Registered());
        EXPECT_TRUE(capture.Contains(c.Complaint));
    }
}

TEST_F(ClassDriverChecks, RegistrationOutsideDriverEntryIsAViolation)
{
    HW_INITIALIZATION_DATA data{};
    sim::ViolationCapture capture;
    EXPECT_NE(StreamClassRegisterAdapter(nullptr, nullptr, &data), STATUS_SUCCESS);
    EXPECT_TRUE(capture.Contains("outside DriverEntry"));
}

TEST_F(ClassDriverChecks, ReportsEachBrokenCompletionRule)
{
    struct Case {
        Fault Injected;
        const char* Complaint;
    };
    const Case cases[] = {
        {Fault::CompleteTwice, "not outstanding (completed twice"},
        {Fault::NeverComplete, "never completed"},
        {Fault::WriteAfterCompletion, "written after its completion"},
        {Fault::CompleteHoldingLock, "completed while holding a spin lock"},
        {Fault::ReturnHoldingLock, "returned holding a spin lock"},
        {Fault::ShortCountOverrun, "reports 4096 bytes in a data buffer of 32"},
    };
    auto driver = sim::LoadDriver(FakeEntry);
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.Injected));
        sim::Adapter adapter(driver, {});
        fault = c.Injected;
        sim::ViolationCapture capture;
        sim::Request request = sim::requests::GetMode();
        request.ClassDriverChecks = false;  // the fake registers no properties
        adapter.Send(request);
        fault = Fault::None;
        if (c.Injected == Fault::ReturnHoldingLock) KfReleaseSpinLock(&fakeLock, PASSIVE_LEVEL);
        EXPECT_TRUE(capture.Contains(c.Complaint)) << (capture.Messages().empty() ? "" : capture.Messages()[0]);
    }
}

TEST_F(ClassDriverChecks, ReportsAnExtensionWrittenAfterTheStopWasCompleted)
{
    auto driver = sim::LoadDriver(FakeEntry);
    sim::ViolationCapture capture;
    {
        sim::Adapter adapter(driver, {});
        ASSERT_EQ(adapter.Initialize().Status, STATUS_SUCCESS);
        fault = Fault::WriteExtensionAfterStop;
        EXPECT_EQ(adapter.Stop().Status, STATUS_SUCCESS);
        fault = Fault::None;
    }
    EXPECT_TRUE(capture.Contains("device extension was written after SRB_UNINITIALIZE_DEVICE"));
}

TEST_F(ClassDriverChecks, DeliversOnlyAtPassiveLevel)
{
    auto driver = sim::LoadDriver(FakeEntry);
    sim::Adapter adapter(driver, {});
    sim::ViolationCapture capture;
    sim::Result result;
    {
        sim::IrqlScope raised(DISPATCH_LEVEL);
        result = adapter.Send(AnyRequest());
    }
    EXPECT_TRUE(capture.Contains("delivers device requests at PASSIVE_LEVEL"));
    EXPECT_TRUE(result.AnsweredByClassDriver);
}

TEST_F(ClassDriverChecks, AWellBehavedMinidriverPassesEveryCheck)
{
    auto driver = sim::LoadDriver(FakeEntry);
    ASSERT_TRUE(driver->Registered());
    sim::Adapter adapter(driver, {});
    int before = 0;
    int after = 0;
    adapter.SetHooks({[&](const sim::Request&) { ++before; }, [&](const sim::Request&, const sim::Result&) { ++after; }});
    ASSERT_EQ(adapter.Initialize().Status, STATUS_SUCCESS);
    sim::Result result = adapter.Send(AnyRequest());
    EXPECT_EQ(result.Status, STATUS_SUCCESS);
    EXPECT_TRUE(result.Completed);
    EXPECT_FALSE(result.AnsweredByClassDriver);
    EXPECT_EQ(before, 2);
    EXPECT_EQ(after, 2);
}

}  // namespace
