// IRPs: stack layout, a request completed later from another thread, and
// completion routines chosen by their control bits on the way up.
#include <chrono>
#include <thread>

#include "platform/Hal.h"
#include "tests/support/KernelTest.h"

namespace {

struct Completion {
    KEVENT Event;
    DEVICE_OBJECT* Device = reinterpret_cast<DEVICE_OBJECT*>(1);
    KIRQL Irql = HIGH_LEVEL;
    BOOLEAN PendingReturned = FALSE;
};

NTSTATUS NTAPI SignalAndKeep(DEVICE_OBJECT* device, IRP* irp, PVOID context)
{
    auto* completion = static_cast<Completion*>(context);
    completion->Device = device;
    completion->Irql = KeGetCurrentIrql();
    completion->PendingReturned = irp->PendingReturned;
    KeSetEvent(&completion->Event, 0, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

const GUID kSomeInterface = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

}  // namespace

class KernelIrpTest : public KernelTest {};

TEST_F(KernelIrpTest, QueryCompletedLaterFromAnotherThread)
{
    INTERFACE answer{};
    IRP* held = nullptr;
    DEVICE_OBJECT* device = sim::CreateDevice(
        [&](DEVICE_OBJECT* self, IRP* irp) {
            IO_STACK_LOCATION* location = IoGetCurrentIrpStackLocation(irp);
            EXPECT_EQ(location->DeviceObject, self);
            EXPECT_EQ(location->MajorFunction, IRP_MJ_PNP);
            EXPECT_EQ(location->MinorFunction, IRP_MN_QUERY_INTERFACE);
            EXPECT_EQ(location->Parameters.QueryInterface.InterfaceType, &kSomeInterface);
            held = irp;
            sim::MarkIrpPending(irp);
            return STATUS_PENDING;
        },
        1);
    EXPECT_EQ(device->Type, 3);
    EXPECT_EQ(device->Size, 184);

    IRP* irp = IoAllocateIrp(device->StackSize, FALSE);
    ASSERT_NE(irp, nullptr);
    auto* base = reinterpret_cast<char*>(irp);
    EXPECT_EQ(irp->StackCount, 1);
    EXPECT_EQ(irp->CurrentLocation, 2);
    EXPECT_EQ(reinterpret_cast<char*>(IoGetNextIrpStackLocation(irp)), base + 112);
    EXPECT_EQ(reinterpret_cast<char*>(irp->Tail.Overlay.CurrentStackLocation), base + 112 + 36);

    Completion completion;
    KeInitializeEvent(&completion.Event, NotificationEvent, FALSE);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = IRP_MN_QUERY_INTERFACE;
    next->Parameters.QueryInterface.InterfaceType = &kSomeInterface;
    next->Parameters.QueryInterface.Interface = &answer;
    IoSetCompletionRoutine(irp, SignalAndKeep, &completion, true, true, true);

    ASSERT_EQ(IofCallDriver(device, irp), STATUS_PENDING);
    EXPECT_EQ(irp->CurrentLocation, 1);
    std::thread bridge([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        IoGetCurrentIrpStackLocation(held)->Parameters.QueryInterface.Interface->Size = sizeof(INTERFACE);
        held->IoStatus.Status = STATUS_SUCCESS;
        sim::CompleteRequest(held);
    });
    EXPECT_EQ(KeWaitForSingleObject(&completion.Event, Suspended, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    bridge.join();

    EXPECT_EQ(answer.Size, sizeof(INTERFACE));
    EXPECT_EQ(irp->IoStatus.Status, STATUS_SUCCESS);
    EXPECT_EQ(completion.Device, nullptr);  // the sender has no stack location of its own
    EXPECT_EQ(completion.Irql, PASSIVE_LEVEL);
    EXPECT_TRUE(completion.PendingReturned);
    EXPECT_EQ(irp->CurrentLocation, 2);
    EXPECT_EQ(sim::OutstandingIrpCount(), 1u);
    IoFreeIrp(irp);
    EXPECT_EQ(sim::OutstandingIrpCount(), 0u);
    sim::DeleteDevice(device);
}

// A filter passes the IRP to the device below with its own completion
// routine; the control bits decide whether that routine runs on the way up.
TEST_F(KernelIrpTest, CompletionRoutinesHonourTheirControlBits)
{
    struct Case {
        bool OnSuccess, OnError, OnCancel;
        NTSTATUS Status;
        bool Cancel;
        bool Invoked;
    };
    const Case cases[] = {
        {true, false, false, STATUS_SUCCESS, false, true},
        {true, false, false, STATUS_UNSUCCESSFUL, false, false},
        {false, true, false, STATUS_UNSUCCESSFUL, false, true},
        {false, true, false, STATUS_SUCCESS, false, false},
        {false, false, true, STATUS_CANCELLED, true, true},
        {true, true, false, STATUS_CANCELLED, true, false},
    };
    struct Filter {
        const Case* Current;
        DEVICE_OBJECT* Lower;
        DEVICE_OBJECT* SeenDevice;
        bool Invoked;
    } filter{};
    static Filter* active;
    active = &filter;
    filter.Lower = sim::CreateDevice([](DEVICE_OBJECT*, IRP* irp) {
        irp->IoStatus.Status = active->Current->Status;
        irp->Cancel = active->Current->Cancel;
        sim::CompleteRequest(irp);
        return active->Current->Status;
    });
    struct Routine {
        static NTSTATUS NTAPI Filtered(DEVICE_OBJECT* device, IRP*, PVOID)
        {
            active->Invoked = true;
            active->SeenDevice = device;
            return STATUS_SUCCESS;
        }
    };
    DEVICE_OBJECT* upper = sim::CreateDevice(
        [](DEVICE_OBJECT*, IRP* irp) {
            const Case& c = *active->Current;
            IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
            *next = *IoGetCurrentIrpStackLocation(irp);
            IoSetCompletionRoutine(irp, Routine::Filtered, nullptr, c.OnSuccess, c.OnError, c.OnCancel);
            return IofCallDriver(active->Lower, irp);
        },
        2);

    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "status 0x" << std::hex << c.Status << " cancel " << c.Cancel);
        filter.Current = &c;
        filter.Invoked = false;
        IRP* irp = IoAllocateIrp(upper->StackSize, FALSE);
        Completion completion;
        KeInitializeEvent(&completion.Event, SynchronizationEvent, FALSE);
        IoSetCompletionRoutine(irp, SignalAndKeep, &completion, true, true, true);
        EXPECT_EQ(IofCallDriver(upper, irp), c.Status);
        EXPECT_EQ(filter.Invoked, c.Invoked);
        if (c.Invoked) {
            EXPECT_EQ(filter.SeenDevice, upper);
        }
        EXPECT_EQ(completion.Device, nullptr);
        EXPECT_EQ(irp->IoStatus.Status, c.Status);
        EXPECT_EQ(irp->CurrentLocation, 3);
        IoFreeIrp(irp);
    }
    sim::DeleteDevice(upper);
    sim::DeleteDevice(filter.Lower);
}

// A filter that reclaims the IRP in its completion routine owns it again
// and may complete it once more; that is no double completion.
TEST_F(KernelIrpTest, ReclaimedIrpMayBeCompletedAgainByTheReclaimingDriver)
{
    struct Routine {
        static NTSTATUS NTAPI Reclaim(DEVICE_OBJECT*, IRP*, PVOID) { return STATUS_MORE_PROCESSING_REQUIRED; }
    };
    DEVICE_OBJECT* lower = sim::CreateDevice([](DEVICE_OBJECT*, IRP* irp) {
        irp->IoStatus.Status = STATUS_SUCCESS;
        sim::CompleteRequest(irp);
        return STATUS_SUCCESS;
    });
    static DEVICE_OBJECT* below;
    below = lower;
    DEVICE_OBJECT* upper = sim::CreateDevice(
        [](DEVICE_OBJECT*, IRP* irp) {
            IoSetCompletionRoutine(irp, Routine::Reclaim, nullptr, true, true, true);
            IofCallDriver(below, irp);
            irp->IoStatus.Information = 42;
            sim::CompleteRequest(irp);
            return STATUS_SUCCESS;
        },
        2);
    IRP* irp = IoAllocateIrp(2, FALSE);
    Completion completion;
    KeInitializeEvent(&completion.Event, NotificationEvent, FALSE);
    IoSetCompletionRoutine(irp, SignalAndKeep, &completion, true, true, true);
    EXPECT_EQ(IofCallDriver(upper, irp), STATUS_SUCCESS);
    EXPECT_EQ(irp->IoStatus.Information, 42u);
    LARGE_INTEGER poll = RtlConvertLongToLargeInteger(0);
    EXPECT_EQ(KeWaitForSingleObject(&completion.Event, Executive, KernelMode, FALSE, &poll), STATUS_SUCCESS);
    IoFreeIrp(irp);
    sim::DeleteDevice(upper);
    sim::DeleteDevice(lower);
}
