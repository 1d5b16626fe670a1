// The timer wrapper and the allocation helpers it rests on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <new>
#include <thread>

#include "sim/Kernel.h"
#include "tests/support/KernelTest.h"
#include "tuner/Memory.h"
#include "tuner/PeriodicTimer.h"
#include "tuner/TunerDevice.h"

namespace {

class PeriodicTimerTest : public KernelTest {};

// A tick target that counts its ticks and, when told to, holds the DPC
// (as another processor would be in the middle of it) until released.
class TickProbe : public TunerDevice {
public:
    TickProbe() : TunerDevice(BareObject::Tag) {}
    void AgcTick() override
    {
        Entered = true;
        while (Hold) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++Ticks;
        Left = true;
    }
    std::atomic<int> Ticks{0};
    std::atomic<bool> Hold{false};
    std::atomic<bool> Entered{false};
    std::atomic<bool> Left{false};
};

// Built in zero-filled memory, as the tuner object always is.
struct ProbeBlock {
    ProbeBlock() { probe = ::new (storage) TickProbe; }
    ~ProbeBlock() { probe->~TickProbe(); }
    alignas(TickProbe) uint8_t storage[sizeof(TickProbe)] = {};
    TickProbe* probe;
};

void WaitUntil(const std::atomic<bool>& flag)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!flag && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(flag.load());
}

void ReleaseLater(TickProbe* probe)
{
    std::thread([probe] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        probe->Hold = false;
    }).detach();
}

TEST_F(PeriodicTimerTest, TicksEveryPeriodFromOnePeriodOn)
{
    ProbeBlock target;
    PeriodicTimer* timer = new PeriodicTimer;
    ASSERT_NE(timer, nullptr);
    ASSERT_TRUE(timer->StartTimer(10, true, target.probe));
    sim::AdvanceClock(99999);
    EXPECT_EQ(target.probe->Ticks, 9);
    sim::AdvanceClock(1);
    EXPECT_EQ(target.probe->Ticks, 10);

    // Starting again replaces the core; a one-shot timer ticks once.
    ASSERT_TRUE(timer->StartTimer(20, false, target.probe));
    sim::AdvanceClockMs(100);
    EXPECT_EQ(target.probe->Ticks, 11);
    delete timer;
    EXPECT_TRUE(sim::OutstandingPool().empty());
}

TEST_F(PeriodicTimerTest, BlocksAreNonPagedAndTagged)
{
    ProbeBlock target;
    PeriodicTimer* timer = new PeriodicTimer;
    ASSERT_TRUE(timer->StartTimer(10, true, target.probe));
    std::vector<sim::PoolBlock> blocks = sim::OutstandingPool();
    ASSERT_EQ(blocks.size(), 2u);
    for (const sim::PoolBlock& block : blocks) {
        EXPECT_EQ(block.Type, NonPagedPool);
        EXPECT_EQ(block.Tag, DriverPoolTag);
    }
    EXPECT_EQ(blocks[1].Size, 72u);
    delete timer;
}

TEST_F(PeriodicTimerTest, NoMemoryForTheCoreLeavesNoTimer)
{
    ProbeBlock target;
    PeriodicTimer* timer = new PeriodicTimer;
    sim::FailNthAllocation(1);
    EXPECT_FALSE(timer->StartTimer(10, true, target.probe));
    EXPECT_EQ(timer->Core, nullptr);
    sim::AdvanceClockMs(50);
    EXPECT_EQ(target.probe->Ticks, 0);
    delete timer;

    sim::FailNthAllocation(1);
    EXPECT_EQ(new PeriodicTimer, nullptr);
}

TEST_F(PeriodicTimerTest, DestructionWaitsForTheRunningTick)
{
    ProbeBlock target;
    PeriodicTimer* timer = new PeriodicTimer;
    ASSERT_TRUE(timer->StartTimer(10, true, target.probe));
    target.probe->Hold = true;
    std::thread other([] { sim::AdvanceClockMs(10); });
    WaitUntil(target.probe->Entered);

    ReleaseLater(target.probe);
    delete timer;  // the kernel reports memory freed under a running DPC
    EXPECT_TRUE(target.probe->Left);
    other.join();
}

TEST_F(PeriodicTimerTest, DestructionRemovesTheQueuedTick)
{
    // Both due at once; the first one's DPC is held on another processor
    // while the second one's waits in the queue.
    ProbeBlock first, second;
    PeriodicTimer* firstTimer = new PeriodicTimer;
    PeriodicTimer* secondTimer = new PeriodicTimer;
    ASSERT_TRUE(firstTimer->StartTimer(10, true, first.probe));
    ASSERT_TRUE(secondTimer->StartTimer(10, true, second.probe));
    first.probe->Hold = true;
    std::thread other([] { sim::AdvanceClockMs(10); });
    WaitUntil(first.probe->Entered);

    ReleaseLater(first.probe);
    delete secondTimer;
    EXPECT_EQ(second.probe->Ticks, 0);
    other.join();
    EXPECT_EQ(second.probe->Ticks, 0);
    delete firstTimer;
}

TEST_F(PeriodicTimerTest, TimerDpcIgnoresAMissingTarget)
{
    KDPC dpc{};
    TimerDpc(&dpc, nullptr, nullptr, nullptr);
    ProbeBlock target;
    TimerDpc(&dpc, target.probe, nullptr, nullptr);
    EXPECT_EQ(target.probe->Ticks, 1);
}

TEST_F(PeriodicTimerTest, AllocationFollowsTheIrql)
{
    struct Case {
        KIRQL Irql;
        POOL_TYPE Type;
        bool Allowed;
    };
    const Case cases[] = {
        {PASSIVE_LEVEL, PagedPool, true},   {APC_LEVEL, PagedPool, true},
        {DISPATCH_LEVEL, NonPagedPool, true}, {DISPATCH_LEVEL, PagedPool, false},
        {DISPATCH_LEVEL, NonPagedPoolCacheAligned, false}, {DISPATCH_LEVEL + 1, NonPagedPool, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("IRQL " + std::to_string(c.Irql) + ", pool " + std::to_string(c.Type));
        void* block;
        {
            sim::IrqlScope irql(c.Irql);
            block = AllocateZeroed(40, c.Type);
        }
        EXPECT_EQ(block != nullptr, c.Allowed);
        if (block == nullptr) continue;
        const uint8_t* bytes = static_cast<const uint8_t*>(block);
        for (int i = 0; i < 40; ++i) EXPECT_EQ(bytes[i], 0) << "byte " << i;
        std::vector<sim::PoolBlock> blocks = sim::OutstandingPool();
        ASSERT_EQ(blocks.size(), 1u);
        EXPECT_EQ(blocks[0].Tag, DriverPoolTag);
        EXPECT_EQ(blocks[0].Type, c.Type);
        FreeMemory(block);
        EXPECT_TRUE(sim::OutstandingPool().empty());
    }
}

TEST_F(PeriodicTimerTest, FreeingIsSkippedAboveDispatchLevel)
{
    FreeMemory(nullptr);
    void* block = AllocateZeroed(16, NonPagedPool);
    {
        sim::IrqlScope irql(DISPATCH_LEVEL + 1);
        FreeMemory(block);
    }
    EXPECT_EQ(sim::OutstandingPool().size(), 1u);
    {
        sim::IrqlScope irql(DISPATCH_LEVEL);
        FreeMemory(block);
    }
    EXPECT_TRUE(sim::OutstandingPool().empty());
}

}  // namespace
