// The timer wrapper and the allocation helpers it rests on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "sim/Kernel.h"
#include "tests/support/KernelTest.h"
#include "tuner/Memory.h"
#include "tuner/PeriodicTimer.h"
#include "tuner/TunerDevice.h"

namespace {

class PeriodicTimerTest : public KernelTest {};

// A tuner object in zero-filled memory whose cycle waits in the state
// that counts ticks, so that its tick count tells how often it ran.
struct CountingTarget {
    CountingTarget()
    {
        // From calloc, so that no compiler takes the zeros for dead stores
        // when the object's lifetime begins.
        block = std::calloc(1, sizeof(TunerDevice));
        tuner = ::new (block) TunerDevice(TunerDevice::BareObject::Tag);
        tuner->AgcState = 4;
    }
    ~CountingTarget() { std::free(block); }
    // Ticks run only while the tuner holds a timer.
    void Arm(PeriodicTimer* timer) { tuner->AgcTimer = timer; }
    uint32_t Ticks() const { return tuner->AgcTickCount; }

    void* block;
    TunerDevice* tuner;
};

TEST_F(PeriodicTimerTest, TicksEveryPeriodFromOnePeriodOn)
{
    CountingTarget target;
    PeriodicTimer* timer = new PeriodicTimer;
    ASSERT_NE(timer, nullptr);
    target.Arm(timer);
    ASSERT_TRUE(timer->StartTimer(10, true, target.tuner));
    sim::AdvanceClock(999999);  // 100 ms less 100 ns
    EXPECT_EQ(target.Ticks(), 9u);
    sim::AdvanceClock(1);
    EXPECT_EQ(target.Ticks(), 10u);

    // Starting again replaces the core; a one-shot timer ticks once.
    ASSERT_TRUE(timer->StartTimer(20, false, target.tuner));
    sim::AdvanceClockMs(100);
    EXPECT_EQ(target.Ticks(), 11u);
    delete timer;
    EXPECT_TRUE(sim::OutstandingPool().empty());
}

TEST_F(PeriodicTimerTest, BlocksAreNonPagedAndTagged)
{
    CountingTarget target;
    PeriodicTimer* timer = new PeriodicTimer;
    ASSERT_TRUE(timer->StartTimer(10, true, target.tuner));
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
    CountingTarget target;
    PeriodicTimer* timer = new PeriodicTimer;
    target.Arm(timer);
    sim::FailNthAllocation(1);
    EXPECT_FALSE(timer->StartTimer(10, true, target.tuner));
    EXPECT_EQ(timer->Core, nullptr);
    sim::AdvanceClockMs(50);
    EXPECT_EQ(target.Ticks(), 0u);
    delete timer;

    sim::FailNthAllocation(1);
    EXPECT_EQ(new PeriodicTimer, nullptr);
}

TEST_F(PeriodicTimerTest, TimerDpcIgnoresAMissingTarget)
{
    KDPC dpc{};
    TimerDpc(&dpc, nullptr, nullptr, nullptr);
    CountingTarget target;
    PeriodicTimer* timer = new PeriodicTimer;
    target.Arm(timer);
    TimerDpc(&dpc, target.tuner, nullptr, nullptr);
    EXPECT_EQ(target.Ticks(), 1u);
    delete timer;
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
