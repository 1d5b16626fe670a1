// Every strictness check of the simulated kernel, provoked once and caught.
#include <functional>

#include "platform/Hal.h"
#include "tests/support/KernelTest.h"

constexpr ULONG kTestTag = 0x74736554u;  // "Test"

namespace {

struct Case {
    const char* Name;
    std::function<void()> Provoke;  // leaves nothing behind once the check fired
    const char* Expected;
};

NTSTATUS NTAPI KeepIrp(DEVICE_OBJECT*, IRP*, PVOID)
{
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS CompleteAtOnce(DEVICE_OBJECT*, IRP* irp)
{
    irp->IoStatus.Status = STATUS_SUCCESS;
    sim::CompleteRequest(irp);
    return STATUS_SUCCESS;
}

void NTAPI NoDpcWork(KDPC*, PVOID, PVOID, PVOID) {}
void NTAPI NoWork(DEVICE_OBJECT*, PVOID) {}

void NTAPI FreeingDpc(KDPC*, PVOID context, PVOID, PVOID)
{
    ExFreePool(context);
}

void NTAPI LoweringDpc(KDPC*, PVOID, PVOID, PVOID)
{
    sim::SetIrql(PASSIVE_LEVEL);
}

void NTAPI DelayingDpc(KDPC*, PVOID, PVOID, PVOID)
{
    sim::IrqlScope passive(PASSIVE_LEVEL);  // a DPC is no thread, whatever the IRQL
    LARGE_INTEGER interval = RtlConvertLongToLargeInteger(-2000);
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

void NTAPI WaitingDpc(KDPC*, PVOID context, PVOID, PVOID)
{
    sim::IrqlScope passive(PASSIVE_LEVEL);
    KeWaitForSingleObject(context, Executive, KernelMode, FALSE, nullptr);
}

// An IRP sent to a device that completes it at once, reclaimed by its sender.
IRP* SentAndReclaimed(DEVICE_OBJECT* device)
{
    IRP* irp = IoAllocateIrp(1, FALSE);
    IoSetCompletionRoutine(irp, KeepIrp, nullptr, true, true, true);
    IofCallDriver(device, irp);
    return irp;
}

// A DPC whose timer fires within the next millisecond.
void ArmTimer(KTIMER* timer, KDPC* dpc, PKDEFERRED_ROUTINE routine, PVOID context)
{
    KeInitializeTimerEx(timer, NotificationTimer);
    KeInitializeDpc(dpc, routine, context);
    KeSetTimerEx(timer, RtlConvertLongToLargeInteger(-10000), 0, dpc);
}

struct TimerBlock {
    KDPC Dpc;
    KTIMER Timer;
};

}  // namespace

class KernelViolationTest : public KernelTest {};

TEST_F(KernelViolationTest, EachCheckFires)
{
    DEVICE_OBJECT* device = sim::CreateDevice(CompleteAtOnce);
    const Case cases[] = {
        {"paged allocation at DISPATCH_LEVEL",
         [] {
             sim::IrqlScope dispatch(DISPATCH_LEVEL);
             EXPECT_EQ(ExAllocatePoolWithTag(PagedPool, 16, kTestTag), nullptr);
         },
         "paged pool allocation at DISPATCH_LEVEL"},
        {"allocation above DISPATCH_LEVEL",
         [] {
             sim::IrqlScope high(HIGH_LEVEL);
             EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 16, kTestTag), nullptr);
         },
         "ExAllocatePoolWithTag at IRQL 31"},
        {"free above DISPATCH_LEVEL",
         [] {
             void* block = ExAllocatePoolWithTag(NonPagedPool, 16, kTestTag);
             {
                 sim::IrqlScope high(HIGH_LEVEL);
                 ExFreePool(block);
             }
             ExFreePool(block);
         },
         "ExFreePool at IRQL 31"},
        {"free of unknown memory",
         [] {
             int onTheStack = 0;
             ExFreePool(&onTheStack);
         },
         "ExFreePool of unknown memory"},
        {"double free",
         [] {
             void* block = ExAllocatePoolWithTag(NonPagedPool, 16, kTestTag);
             ExFreePool(block);
             ExFreePool(block);
         },
         "double free of pool block"},
        {"spin lock acquired above DISPATCH_LEVEL",
         [] {
             KSPIN_LOCK lock = 0;
             sim::IrqlScope high(HIGH_LEVEL);
             KfAcquireSpinLock(&lock);
             KfReleaseSpinLock(&lock, PASSIVE_LEVEL);
         },
         "KfAcquireSpinLock at IRQL 31"},
        {"spin lock acquired twice by one thread",
         [] {
             KSPIN_LOCK lock = 0;
             KIRQL old = KfAcquireSpinLock(&lock);
             KfAcquireSpinLock(&lock);
             KfReleaseSpinLock(&lock, old);
         },
         "already holds"},
        {"spin lock released without being held",
         [] {
             KSPIN_LOCK lock = 0;
             KfReleaseSpinLock(&lock, PASSIVE_LEVEL);
         },
         "does not hold"},
        {"spin lock released below DISPATCH_LEVEL",
         [] {
             KSPIN_LOCK lock = 0;
             KIRQL old = KfAcquireSpinLock(&lock);
             sim::SetIrql(APC_LEVEL);
             KfReleaseSpinLock(&lock, old);
         },
         "KfReleaseSpinLock at APC_LEVEL"},
        {"spin lock released to a higher IRQL",
         [] {
             KSPIN_LOCK lock = 0;
             KIRQL old = KfAcquireSpinLock(&lock);
             KfReleaseSpinLock(&lock, HIGH_LEVEL);
             sim::SetIrql(old);
         },
         "above the current DISPATCH_LEVEL"},
        {"delay at DISPATCH_LEVEL",
         [] {
             sim::IrqlScope dispatch(DISPATCH_LEVEL);
             LARGE_INTEGER interval = RtlConvertLongToLargeInteger(-2000);
             KeDelayExecutionThread(KernelMode, FALSE, &interval);
         },
         "KeDelayExecutionThread at DISPATCH_LEVEL"},
        {"delay inside a DPC",
         [] {
             TimerBlock block;
             ArmTimer(&block.Timer, &block.Dpc, DelayingDpc, nullptr);
             sim::AdvanceClockMs(1);
         },
         "KeDelayExecutionThread inside a DPC"},
        {"timed wait at DISPATCH_LEVEL",
         [] {
             KEVENT event;
             KeInitializeEvent(&event, NotificationEvent, FALSE);
             sim::IrqlScope dispatch(DISPATCH_LEVEL);
             LARGE_INTEGER timeout = RtlConvertLongToLargeInteger(-10000);
             EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout), STATUS_TIMEOUT);
         },
         "non-zero timeout (above APC_LEVEL)"},
        {"wait inside a DPC",
         [] {
             TimerBlock block;
             KEVENT event;
             KeInitializeEvent(&event, NotificationEvent, FALSE);
             ArmTimer(&block.Timer, &block.Dpc, WaitingDpc, &event);
             sim::AdvanceClockMs(1);
         },
         "inside a DPC"},
        {"wait on something that is no event",
         [] {
             ULONG garbage[4] = {0xA5A5A5A5u, 0, 0, 0};
             LARGE_INTEGER poll = RtlConvertLongToLargeInteger(0);
             KeWaitForSingleObject(garbage, Executive, KernelMode, FALSE, &poll);
         },
         "not an initialized event"},
        {"IRP completed twice",
         [device] {
             IRP* irp = SentAndReclaimed(device);
             sim::CompleteRequest(irp);
             IoFreeIrp(irp);
         },
         "completed twice"},
        {"IRP freed twice",
         [device] {
             IRP* irp = SentAndReclaimed(device);
             IoFreeIrp(irp);
             IoFreeIrp(irp);
         },
         "IRP freed twice"},
        {"IRP freed while a driver holds it",
         [] {
             DEVICE_OBJECT* holder = sim::CreateDevice([](DEVICE_OBJECT*, IRP*) { return STATUS_PENDING; });
             IRP* irp = IoAllocateIrp(1, FALSE);
             IoSetCompletionRoutine(irp, KeepIrp, nullptr, true, true, true);
             IofCallDriver(holder, irp);
             IoFreeIrp(irp);
             irp->IoStatus.Status = STATUS_SUCCESS;
             sim::CompleteRequest(irp);
             IoFreeIrp(irp);
             sim::DeleteDevice(holder);
         },
         "freed while in the hands of a driver"},
        {"IRP completed all the way up without being reclaimed",
         [device] {
             IRP* irp = IoAllocateIrp(1, FALSE);
             IofCallDriver(device, irp);
             IoFreeIrp(irp);
         },
         "completed back to the I/O manager"},
        {"IRP sent with no stack location left",
         [device] {
             IRP* irp = SentAndReclaimed(device);
             irp->CurrentLocation = 1;
             IofCallDriver(device, irp);
             IoFreeIrp(irp);
         },
         "no stack location left"},
        {"memory freed with a timer still set",
         [] {
             auto* block = static_cast<TimerBlock*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(TimerBlock), kTestTag));
             ArmTimer(&block->Timer, &block->Dpc, NoDpcWork, nullptr);
             ExFreePool(block);
             sim::AdvanceClockMs(1);
         },
         "of a timer still set"},
        {"memory freed with its DPC queued",
         [] {
             // Both timers fall due together; the first DPC frees the second while it is queued.
             TimerBlock first;
             auto* second = static_cast<TimerBlock*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(TimerBlock), kTestTag));
             ArmTimer(&first.Timer, &first.Dpc, FreeingDpc, second);
             ArmTimer(&second->Timer, &second->Dpc, NoDpcWork, nullptr);
             sim::AdvanceClockMs(1);
         },
         "which is queued"},
        {"DPC returning at a lowered IRQL",
         [] {
             TimerBlock block;
             ArmTimer(&block.Timer, &block.Dpc, LoweringDpc, nullptr);
             sim::AdvanceClockMs(1);
         },
         "returned at PASSIVE_LEVEL instead of DISPATCH_LEVEL"},
        {"completion routine returning holding a spin lock",
         [device] {
             static KSPIN_LOCK lock = 0;
             struct Routine {
                 static NTSTATUS NTAPI Locking(DEVICE_OBJECT*, IRP*, PVOID)
                 {
                     KfAcquireSpinLock(&lock);
                     return STATUS_MORE_PROCESSING_REQUIRED;
                 }
             };
             IRP* irp = IoAllocateIrp(1, FALSE);
             IoSetCompletionRoutine(irp, Routine::Locking, nullptr, true, true, true);
             IofCallDriver(device, irp);
             KfReleaseSpinLock(&lock, PASSIVE_LEVEL);
             IoFreeIrp(irp);
         },
         "completion routine for"},
        {"work item queued twice",
         [device] {
             IO_WORKITEM* item = IoAllocateWorkItem(device);
             IoQueueWorkItem(item, NoWork, DelayedWorkQueue, nullptr);
             IoQueueWorkItem(item, NoWork, DelayedWorkQueue, nullptr);
             sim::RunPendingWork();
             IoFreeWorkItem(item);
         },
         "already queued"},
        {"work item freed while queued",
         [device] {
             IO_WORKITEM* item = IoAllocateWorkItem(device);
             IoQueueWorkItem(item, NoWork, DelayedWorkQueue, nullptr);
             IoFreeWorkItem(item);
         },
         "still queued"},
        {"work item without a device object",
         [] { EXPECT_EQ(IoAllocateWorkItem(nullptr), nullptr); },
         "without a device object"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        sim::ViolationCapture capture;
        c.Provoke();
        EXPECT_TRUE(capture.Contains(c.Expected)) << (capture.Messages().empty() ? "no violation" : capture.Messages()[0]);
        EXPECT_EQ(sim::CurrentIrql(), PASSIVE_LEVEL);
    }
    sim::DeleteDevice(device);
}
