// The virtual clock: timers, their DPCs and work items in time order.
#include <vector>

#include "platform/Hal.h"
#include "tests/support/KernelTest.h"

namespace {

struct Firing {
    int64_t Time;  // interrupt time
    KIRQL Irql;
    char What;     // 'D' DPC, 'W' work item
};

struct Recorder {
    std::vector<Firing> Firings;
    IO_WORKITEM* Item = nullptr;
    KDPC Dpc;
    KTIMER Timer;
};

void NTAPI RecordDpc(KDPC*, PVOID context, PVOID, PVOID)
{
    static_cast<Recorder*>(context)->Firings.push_back({sim::InterruptTime(), KeGetCurrentIrql(), 'D'});
}

void NTAPI RecordWork(DEVICE_OBJECT*, PVOID context)
{
    static_cast<Recorder*>(context)->Firings.push_back({sim::InterruptTime(), KeGetCurrentIrql(), 'W'});
}

void NTAPI DpcQueueingWork(KDPC* dpc, PVOID context, PVOID a1, PVOID a2)
{
    auto* recorder = static_cast<Recorder*>(context);
    RecordDpc(dpc, context, a1, a2);
    IoQueueWorkItem(recorder->Item, RecordWork, DelayedWorkQueue, recorder);
}

// Both timers of a test fall due together; the first DPC takes the second
// out of the queue.
void NTAPI RemoveOtherDpc(KDPC*, PVOID context, PVOID, PVOID)
{
    EXPECT_TRUE(KeRemoveQueueDpc(static_cast<KDPC*>(context)));
    EXPECT_FALSE(KeRemoveQueueDpc(static_cast<KDPC*>(context)));
}

constexpr int64_t kMs = 10000;

}  // namespace

class KernelClockTest : public KernelTest {};

TEST_F(KernelClockTest, PeriodicTimerFiresOnTheVirtualClockAtDispatchLevel)
{
    Recorder recorder;
    KeInitializeTimerEx(&recorder.Timer, NotificationTimer);
    KeInitializeDpc(&recorder.Dpc, RecordDpc, &recorder);
    int64_t start = sim::InterruptTime();
    EXPECT_FALSE(KeSetTimerEx(&recorder.Timer, RtlConvertLongToLargeInteger(-20 * kMs), 10, &recorder.Dpc));

    sim::AdvanceClockMs(19);
    EXPECT_TRUE(recorder.Firings.empty());
    sim::AdvanceClockMs(26);  // to 45 ms: due at 20, 30, 40

    ASSERT_EQ(recorder.Firings.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(recorder.Firings[i].Time - start, (20 + 10 * static_cast<int64_t>(i)) * kMs);
        EXPECT_EQ(recorder.Firings[i].Irql, DISPATCH_LEVEL);
    }
    EXPECT_EQ(sim::InterruptTime() - start, 45 * kMs);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    EXPECT_TRUE(KeCancelTimer(&recorder.Timer));
    EXPECT_FALSE(KeCancelTimer(&recorder.Timer));
}

TEST_F(KernelClockTest, SettingATimerAgainReplacesItsDueTime)
{
    Recorder recorder;
    KeInitializeTimerEx(&recorder.Timer, NotificationTimer);
    KeInitializeDpc(&recorder.Dpc, RecordDpc, &recorder);
    int64_t start = sim::InterruptTime();
    KeSetTimerEx(&recorder.Timer, RtlConvertLongToLargeInteger(-5 * kMs), 0, &recorder.Dpc);
    EXPECT_TRUE(KeSetTimerEx(&recorder.Timer, RtlConvertLongToLargeInteger(-8 * kMs), 0, &recorder.Dpc));
    sim::AdvanceClockMs(20);
    ASSERT_EQ(recorder.Firings.size(), 1u);
    EXPECT_EQ(recorder.Firings[0].Time - start, 8 * kMs);
    EXPECT_FALSE(KeCancelTimer(&recorder.Timer));  // one-shot: no longer set
}

TEST_F(KernelClockTest, AbsoluteDueTimeIsSystemTimeAndSystemTimeMaySetBack)
{
    Recorder recorder;
    KeInitializeTimerEx(&recorder.Timer, NotificationTimer);
    KeInitializeDpc(&recorder.Dpc, RecordDpc, &recorder);
    LARGE_INTEGER now;
    KeQuerySystemTime(&now);
    int64_t start = sim::InterruptTime();
    LARGE_INTEGER due;
    due.QuadPart = now.QuadPart + 3 * kMs;
    KeSetTimerEx(&recorder.Timer, due, 0, &recorder.Dpc);
    sim::AdvanceClockMs(5);
    ASSERT_EQ(recorder.Firings.size(), 1u);
    EXPECT_EQ(recorder.Firings[0].Time - start, 3 * kMs);

    sim::SetSystemTime(now.QuadPart - 3600LL * 1000 * kMs);
    LARGE_INTEGER later;
    KeQuerySystemTime(&later);
    EXPECT_EQ(later.QuadPart, now.QuadPart - 3600LL * 1000 * kMs);
    EXPECT_EQ(static_cast<int64_t>(KeQueryInterruptTime()), start + 5 * kMs);  // monotonic
}

TEST_F(KernelClockTest, DelayRunsTheDueDpcOnTheWaitingThreadThenTheWorkItem)
{
    DEVICE_OBJECT* device = sim::CreateDevice([](DEVICE_OBJECT*, IRP*) { return STATUS_NOT_SUPPORTED; });
    Recorder recorder;
    recorder.Item = IoAllocateWorkItem(device);
    KeInitializeTimerEx(&recorder.Timer, NotificationTimer);
    KeInitializeDpc(&recorder.Dpc, DpcQueueingWork, &recorder);
    int64_t start = sim::InterruptTime();
    KeSetTimerEx(&recorder.Timer, RtlConvertLongToLargeInteger(-1000), 0, &recorder.Dpc);  // 100 us

    LARGE_INTEGER interval = RtlConvertLongToLargeInteger(-2000);  // 200 us
    {
        sim::IrqlScope apc(APC_LEVEL);
        EXPECT_EQ(KeDelayExecutionThread(KernelMode, FALSE, &interval), STATUS_SUCCESS);
        EXPECT_EQ(KeGetCurrentIrql(), APC_LEVEL);
    }

    ASSERT_EQ(recorder.Firings.size(), 2u);
    EXPECT_EQ(recorder.Firings[0].What, 'D');
    EXPECT_EQ(recorder.Firings[0].Irql, DISPATCH_LEVEL);
    EXPECT_EQ(recorder.Firings[0].Time - start, 1000);
    EXPECT_EQ(recorder.Firings[1].What, 'W');
    EXPECT_EQ(recorder.Firings[1].Irql, PASSIVE_LEVEL);
    EXPECT_EQ(recorder.Firings[1].Time - start, 1000);
    EXPECT_EQ(sim::InterruptTime() - start, 2000);
    IoFreeWorkItem(recorder.Item);
    sim::DeleteDevice(device);
}

TEST_F(KernelClockTest, RemovedDpcDoesNotRun)
{
    Recorder first, second;
    KeInitializeTimerEx(&first.Timer, NotificationTimer);
    KeInitializeDpc(&first.Dpc, RemoveOtherDpc, &second.Dpc);
    KeInitializeTimerEx(&second.Timer, NotificationTimer);
    KeInitializeDpc(&second.Dpc, RecordDpc, &second);
    KeSetTimerEx(&first.Timer, RtlConvertLongToLargeInteger(-kMs), 0, &first.Dpc);
    KeSetTimerEx(&second.Timer, RtlConvertLongToLargeInteger(-kMs), 0, &second.Dpc);
    sim::AdvanceClockMs(2);
    EXPECT_TRUE(second.Firings.empty());
}

TEST_F(KernelClockTest, LeftoversAreReportedAtTheEnd)
{
    DEVICE_OBJECT* device = sim::CreateDevice([](DEVICE_OBJECT*, IRP*) { return STATUS_NOT_SUPPORTED; });
    Recorder recorder;
    KeInitializeTimerEx(&recorder.Timer, NotificationTimer);
    KeInitializeDpc(&recorder.Dpc, RecordDpc, &recorder);
    KeSetTimerEx(&recorder.Timer, RtlConvertLongToLargeInteger(-kMs), 100, &recorder.Dpc);
    void* block = ExAllocatePoolWithTag(NonPagedPool, 24, 0x206D6457u);
    IRP* irp = IoAllocateIrp(2, FALSE);
    IO_WORKITEM* item = IoAllocateWorkItem(device);
    {
        sim::ViolationCapture capture;
        sim::CheckClean();
        EXPECT_TRUE(capture.Contains("pool leak: 24 bytes, tag 'Wdm '"));
        EXPECT_TRUE(capture.Contains("leaked (never freed)"));
        EXPECT_TRUE(capture.Contains("still set (due in 1 ms, period 100 ms)"));
        EXPECT_TRUE(capture.Contains("never freed"));
        EXPECT_TRUE(capture.Contains("never deleted"));
        EXPECT_EQ(capture.Messages().size(), 5u);
    }
    KeCancelTimer(&recorder.Timer);
    ExFreePool(block);
    IoFreeIrp(irp);
    IoFreeWorkItem(item);
    sim::DeleteDevice(device);
}
