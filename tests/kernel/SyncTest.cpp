// Spin locks, events and DPC flushing across real threads.
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/Hal.h"
#include "tests/support/KernelTest.h"

constexpr ULONG kTestTag = 0x74736554u;  // "Test"

namespace {

constexpr int64_t kMs = 10000;

struct BlockingDpc {
    std::atomic<bool> Started{false};
    std::atomic<bool> Release{false};
    std::atomic<bool> Finished{false};
};

void NTAPI RunUntilReleased(KDPC*, PVOID context, PVOID, PVOID)
{
    auto* state = static_cast<BlockingDpc*>(context);
    state->Started = true;
    while (!state->Release) std::this_thread::yield();
    state->Finished = true;
}

struct Setter {
    KEVENT* Event;
    KTIMER Timer;
    KDPC Dpc;
};

void NTAPI SetEventDpc(KDPC*, PVOID context, PVOID, PVOID)
{
    KeSetEvent(static_cast<KEVENT*>(context), 0, FALSE);
}

bool WaitUntil(const std::atomic<bool>& flag)
{
    for (int i = 0; i < 2000 && !flag; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return flag;
}

}  // namespace

class KernelSyncTest : public KernelTest {};

TEST_F(KernelSyncTest, SpinLockExcludesOtherThreadsAndRaisesIrql)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    EXPECT_EQ(lock, 0u);
    int counter = 0;  // deliberately not atomic
    std::atomic<bool> wrongIrql{false};
    auto work = [&] {
        for (int i = 0; i < 200; ++i) {
            KIRQL old = KfAcquireSpinLock(&lock);
            if (old != PASSIVE_LEVEL || KeGetCurrentIrql() != DISPATCH_LEVEL || sim::HeldSpinLockCount() != 1) {
                wrongIrql = true;
            }
            int seen = counter;
            std::this_thread::yield();
            counter = seen + 1;
            KfReleaseSpinLock(&lock, old);
        }
        if (KeGetCurrentIrql() != PASSIVE_LEVEL || sim::HeldSpinLockCount() != 0) wrongIrql = true;
    };
    std::thread other(work);
    work();
    other.join();
    EXPECT_EQ(counter, 400);
    EXPECT_FALSE(wrongIrql);
}

TEST_F(KernelSyncTest, EventSetByAnotherThreadReleasesTheWaiter)
{
    for (EVENT_TYPE type : {NotificationEvent, SynchronizationEvent}) {
        SCOPED_TRACE(type);
        KEVENT event;
        KeInitializeEvent(&event, type, FALSE);
        std::thread setter([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            KeSetEvent(&event, 0, FALSE);
        });
        EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
        setter.join();
        // A notification event stays signalled; a synchronization event was consumed.
        LARGE_INTEGER poll = RtlConvertLongToLargeInteger(0);
        sim::IrqlScope dispatch(DISPATCH_LEVEL);  // a zero timeout is allowed there
        EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &poll),
                  type == NotificationEvent ? STATUS_SUCCESS : STATUS_TIMEOUT);
    }
}

TEST_F(KernelSyncTest, TimedWaitRunsOutOnTheVirtualClockOrEndsWithTheDpcThatSetsTheEvent)
{
    KEVENT event;
    KeInitializeEvent(&event, SynchronizationEvent, FALSE);
    int64_t start = sim::InterruptTime();
    LARGE_INTEGER timeout = RtlConvertLongToLargeInteger(-500 * kMs);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout), STATUS_TIMEOUT);
    EXPECT_EQ(sim::InterruptTime() - start, 500 * kMs);

    Setter setter{&event, {}, {}};
    KeInitializeTimerEx(&setter.Timer, NotificationTimer);
    KeInitializeDpc(&setter.Dpc, SetEventDpc, &event);
    KeSetTimerEx(&setter.Timer, RtlConvertLongToLargeInteger(-30 * kMs), 0, &setter.Dpc);
    start = sim::InterruptTime();
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout), STATUS_SUCCESS);
    EXPECT_EQ(sim::InterruptTime() - start, 30 * kMs);
}

TEST_F(KernelSyncTest, WaitThatNobodySatisfiesTripsTheWatchdog)
{
    sim::SetWaitWatchdog(50);
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    sim::ViolationCapture capture;
    EXPECT_NE(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_TRUE(capture.Contains("never satisfied"));
}

TEST_F(KernelSyncTest, DpcRunningOnAnotherThreadHoldsBackFlushAndItsMemory)
{
    struct Block {
        KDPC Dpc;
        KTIMER Timer;
    };
    auto* block = static_cast<Block*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(Block), kTestTag));
    BlockingDpc state;
    KeInitializeTimerEx(&block->Timer, NotificationTimer);
    KeInitializeDpc(&block->Dpc, RunUntilReleased, &state);
    KeSetTimerEx(&block->Timer, RtlConvertLongToLargeInteger(-kMs), 0, &block->Dpc);

    std::thread processor([] { sim::AdvanceClockMs(1); });
    ASSERT_TRUE(WaitUntil(state.Started));

    std::atomic<bool> flushed{false};
    std::atomic<bool> finishedBeforeFlushReturned{false};
    std::thread flusher([&] {
        KeFlushQueuedDpcs();
        finishedBeforeFlushReturned = state.Finished.load();
        flushed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(flushed);
    {
        sim::ViolationCapture capture;
        ExFreePool(block);  // the routine does not touch its KDPC, so this only trips the check
        EXPECT_TRUE(capture.Contains("which is running"));
    }
    state.Release = true;
    flusher.join();
    processor.join();
    EXPECT_TRUE(finishedBeforeFlushReturned);
}
