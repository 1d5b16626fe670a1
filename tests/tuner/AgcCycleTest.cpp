// The auxiliary byte after a standard change and the AGC cycle of the
// SECAM L modules, on the virtual clock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "platform/KernelStreaming.h"
#include "sim/Kernel.h"
#include "tests/support/KernelTest.h"
#include "tests/support/TunerBuilder.h"
#include "tuner/Memory.h"
#include "tuner/PeriodicTimer.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t TunerAddress = 0xC2;
constexpr int64_t Ms = 10000;  // 100 ns units

class AgcCycle : public KernelTest {};

// (milliseconds since start, auxiliary byte) of every auxiliary write.
std::vector<std::pair<int64_t, uint8_t>> AuxiliaryWritesSince(const sim::PllTuner& pll, int64_t start)
{
    std::vector<std::pair<int64_t, uint8_t>> writes;
    for (const auto& [at, byte] : pll.AuxiliaryWrites()) writes.emplace_back((at - start) / Ms, byte);
    return writes;
}

// Model 12 or 13 switched to SECAM L and tuned: the cycle runs from now.
void StartSecamL(TunerBuilder& bench, uint32_t frequency = 175250000)
{
    TunerDevice& tuner = bench.Tuner();
    tuner.CurrentStandard = KS_AnalogVideo_SECAM_L;
    tuner.SetVideoStandard(KS_AnalogVideo_SECAM_L);
    bench.ClearRecords();
    ASSERT_TRUE(tuner.TuneFrequency(frequency));
}

// The tuner's medium arrays may share a size with the timer blocks.
size_t TimerBlocksInPool(const TunerDevice& tuner)
{
    size_t count = 0;
    for (const sim::PoolBlock& block : sim::OutstandingPool()) {
        if (block.Address == tuner.Mediums || block.Address == tuner.PinDirections) continue;
        if (block.Size == sizeof(TimerCore) || block.Size == sizeof(PeriodicTimer)) ++count;
    }
    return count;
}

TEST_F(AgcCycle, AuxiliaryByteFollowsAStandardChange)
{
    TunerBuilder bench(10);
    TunerDevice& tuner = bench.Tuner();
    ASSERT_EQ(tuner.StandardChanged, 1u);
    EXPECT_TRUE(tuner.TuneFrequency(55250000));
    EXPECT_EQ(bench.WritesTo(TunerAddress), (std::vector<Bytes>{{0x06, 0x50, 0xCE, 0x01}, {0x06, 0x50, 0xDE, 0xB0}}));
    EXPECT_EQ(tuner.StandardChanged, 0u);
    EXPECT_EQ(bench.Pll.AuxiliaryByte(), 0xB0);
    // The auxiliary write leaves the band and step as the word set them.
    EXPECT_EQ(bench.Pll.BandByte(), 0x01);
    EXPECT_EQ(bench.Pll.ReceivedHz(), 55250000u);

    // A plain re-tune writes the word alone.
    bench.ClearRecords();
    EXPECT_TRUE(tuner.TuneFrequency(61250000));
    EXPECT_EQ(bench.WritesTo(TunerAddress).size(), 1u);
    EXPECT_EQ(tuner.AgcState, 2);
}

TEST_F(AgcCycle, TuneReportsTheAuxiliaryWrite)
{
    TunerBuilder bench(10);
    TunerDevice& tuner = bench.Tuner();
    // The word is refused, the auxiliary write lands.
    bench.Pll.RefuseNextWrites(1);
    EXPECT_TRUE(tuner.TuneFrequency(55250000));
    EXPECT_EQ(tuner.StandardChanged, 0u);

    // The word lands, the auxiliary write is refused.
    tuner.SetVideoStandard(KS_AnalogVideo_NTSC_M);
    bool refused = false;
    int listener = bench.Bus().AddListener([&](const sim::BusSegment& segment) {
        if (segment.Address != TunerAddress || refused) return;
        refused = true;
        bench.Pll.RefuseNextWrites(1);
    });
    EXPECT_FALSE(tuner.TuneFrequency(55250000));
    bench.Bus().RemoveListener(listener);
    EXPECT_EQ(tuner.StandardChanged, 0u);
    EXPECT_EQ(bench.Pll.AuxiliaryByte(), 0xB0);
    EXPECT_EQ(bench.Pll.Writes().size(), 2u);
}

TEST_F(AgcCycle, ModelsWithoutAuxiliaryByteWriteTheWordOnly)
{
    TunerBuilder bench(0);
    TunerDevice& tuner = bench.Tuner();
    EXPECT_TRUE(tuner.TuneFrequency(55250000));
    EXPECT_EQ(bench.WritesTo(TunerAddress).size(), 1u);
    EXPECT_EQ(tuner.StandardChanged, 1u);
    EXPECT_EQ(tuner.AgcState, 0);
}

TEST_F(AgcCycle, Models11And14NeverRunTheCycle)
{
    for (uint32_t model : {11u, 14u}) {
        SCOPED_TRACE("model " + std::to_string(model));
        TunerBuilder bench(model);
        TunerDevice& tuner = bench.Tuner();
        ASSERT_TRUE(tuner.TuneFrequency(175250000));
        bench.ClearRecords();
        ASSERT_TRUE(tuner.TuneFrequency(183250000));
        EXPECT_EQ(tuner.AgcState, 2);
        EXPECT_EQ(tuner.AgcTimer, nullptr);
        sim::AdvanceClockMs(1000);
        EXPECT_EQ(bench.WritesTo(TunerAddress).size(), 1u);
    }
}

TEST_F(AgcCycle, RhythmOfTheCycle)
{
    TunerBuilder bench(12);
    int64_t start = sim::InterruptTime();
    StartSecamL(bench);
    TunerDevice& tuner = bench.Tuner();
    EXPECT_NE(tuner.AgcTimer, nullptr);
    EXPECT_EQ(tuner.AgcState, 2);

    sim::AdvanceClockMs(20800);
    // 0xC0 with the tune and on the first tick; 0x40 620 ms later, 0x60 50 ms
    // after that; the next 0x40 20.07 s after the first.
    std::vector<std::pair<int64_t, uint8_t>> expected = {
        {0, 0xC0}, {10, 0xC0}, {630, 0x40}, {680, 0x60}, {20700, 0x40}, {20750, 0x60}};
    EXPECT_EQ(AuxiliaryWritesSince(bench.Pll, start), expected);
    for (const sim::PllTuner::TimedWrite& write : bench.Pll.Writes()) {
        EXPECT_EQ(write.Bytes[0] << 8 | write.Bytes[1], int(tuner.Divider));
    }
    // Every bridge call was made at PASSIVE_LEVEL.
    for (const sim::BridgeCall& call : bench.Bridge().Calls()) EXPECT_EQ(call.Irql, PASSIVE_LEVEL);
}

TEST_F(AgcCycle, ReTuneRestartsTheCycleWithTheNewDivider)
{
    TunerBuilder bench(13);
    int64_t start = sim::InterruptTime();
    StartSecamL(bench);
    TunerDevice& tuner = bench.Tuner();
    sim::AdvanceClockMs(700);
    bench.Pll.ClearWrites();
    EXPECT_EQ(tuner.AgcTickCount, 2u);

    ASSERT_TRUE(tuner.TuneFrequency(471250000));
    EXPECT_EQ(bench.Pll.Writes().size(), 1u);
    EXPECT_EQ(tuner.AgcState, 2);
    sim::AdvanceClockMs(700);
    // The next tick (710 ms) writes 0xC0 with the new divider, then 0x40 and
    // 0x60; the two ticks counted since 0x60 shorten the wait for 0x40.
    std::vector<std::pair<int64_t, uint8_t>> expected = {{710, 0xC0}, {1310, 0x40}, {1360, 0x60}};
    EXPECT_EQ(AuxiliaryWritesSince(bench.Pll, start), expected);
    for (size_t i = 1; i < bench.Pll.Writes().size(); ++i) {
        const Bytes& bytes = bench.Pll.Writes()[i].Bytes;
        EXPECT_EQ(bytes[0] << 8 | bytes[1], int(tuner.Divider));
    }
    EXPECT_EQ(bench.Pll.ReceivedHz(), 471250000u - 25000u);
}

TEST_F(AgcCycle, StandardChangeParksTheCycleUntilTheNextTune)
{
    TunerBuilder bench(12);
    int64_t start = sim::InterruptTime();
    StartSecamL(bench);
    TunerDevice& tuner = bench.Tuner();
    sim::AdvanceClockMs(100);
    tuner.SetVideoStandard(KS_AnalogVideo_SECAM_L);
    EXPECT_EQ(tuner.AgcState, 0);
    sim::AdvanceClockMs(1000);
    EXPECT_EQ(AuxiliaryWritesSince(bench.Pll, start), (std::vector<std::pair<int64_t, uint8_t>>{{0, 0xC0}, {10, 0xC0}}));
    EXPECT_EQ(tuner.AgcTickCount, 0u);

    // The tune after it keeps the running timer and its phase.
    PeriodicTimer* timer = tuner.AgcTimer;
    ASSERT_TRUE(tuner.TuneFrequency(175250000));
    EXPECT_EQ(tuner.AgcTimer, timer);
    sim::AdvanceClockMs(10);
    EXPECT_EQ(AuxiliaryWritesSince(bench.Pll, start).back(), (std::pair<int64_t, uint8_t>{1110, 0xC0}));
}

TEST_F(AgcCycle, OtherStandardOrRadioEndsTheCycle)
{
    // A change to PAL B and a tune.
    {
        TunerBuilder bench(12);
        StartSecamL(bench);
        TunerDevice& tuner = bench.Tuner();
        sim::AdvanceClockMs(50);
        tuner.CurrentStandard = KS_AnalogVideo_PAL_B;
        tuner.SetVideoStandard(KS_AnalogVideo_PAL_B);
        bench.Pll.ClearWrites();
        ASSERT_TRUE(tuner.TuneFrequency(175250000));
        EXPECT_EQ(bench.Pll.Writes().back().Bytes[2], 0xDE);
        EXPECT_EQ(bench.Pll.Writes().back().Bytes[3], 0x30);
        EXPECT_EQ(tuner.AgcState, 0);
        EXPECT_EQ(tuner.AgcTimer, nullptr);
        EXPECT_EQ(TimerBlocksInPool(bench.Tuner()), 0u);
        sim::AdvanceClockMs(1000);
        EXPECT_EQ(bench.Pll.Writes().size(), 2u);
    }
    // The radio set-up of model 12.
    {
        TunerBuilder bench(12);
        StartSecamL(bench);
        TunerDevice& tuner = bench.Tuner();
        tuner.SetTunerMode(KSPROPERTY_TUNER_MODE_FM_RADIO);
        EXPECT_EQ(tuner.AgcTimer, nullptr);
        EXPECT_EQ(TimerBlocksInPool(bench.Tuner()), 0u);
    }
    // SECAM L in FM mode takes 0x30 and no cycle.
    {
        TunerBuilder bench(12);
        TunerDevice& tuner = bench.Tuner();
        tuner.CurrentMode = KSPROPERTY_TUNER_MODE_FM_RADIO;
        StartSecamL(bench, 100000000);
        EXPECT_EQ(bench.Pll.AuxiliaryByte(), 0x30);
        EXPECT_EQ(tuner.AgcTimer, nullptr);
    }
}

TEST_F(AgcCycle, StatesBeyondTheCycleFallBackToIdle)
{
    TunerBuilder bench(12);
    StartSecamL(bench);
    TunerDevice& tuner = bench.Tuner();
    sim::AdvanceClockMs(10);
    size_t writes = bench.Pll.Writes().size();
    tuner.AgcState = 9;
    tuner.AgcTickCount = 5;
    sim::AdvanceClockMs(10);
    EXPECT_EQ(tuner.AgcState, 0);
    sim::AdvanceClockMs(10);
    EXPECT_EQ(tuner.AgcTickCount, 0u);
    EXPECT_EQ(bench.Pll.Writes().size(), writes);
}

TEST_F(AgcCycle, LeftoverTickCountShortensTheFirstWait)
{
    TunerBuilder bench(12);
    bench.Tuner().AgcTickCount = 1500;
    int64_t start = sim::InterruptTime();
    StartSecamL(bench);
    sim::AdvanceClockMs(100);
    std::vector<std::pair<int64_t, uint8_t>> expected = {{0, 0xC0}, {10, 0xC0}, {30, 0x40}, {80, 0x60}};
    EXPECT_EQ(AuxiliaryWritesSince(bench.Pll, start), expected);
}

// A request holds the client (its bridge is slow) while the 0x40 tick
// falls due: that write is lost and the cycle goes on.
TEST_F(AgcCycle, WriteThatFindsTheClientInUseIsDropped)
{
    TunerBuilder bench(12);
    int64_t start = sim::InterruptTime();
    StartSecamL(bench);
    TunerDevice& tuner = bench.Tuner();
    sim::AdvanceClock(629 * Ms);

    bench.Pll.PinStatus(0x42);
    bench.Bridge().BusyOnEveryByte(10);  // 2 ms per byte
    int32_t offset = 0;
    uint32_t busy = 1;
    EXPECT_TRUE(tuner.ReadTunerStatus(&offset, &busy));
    bench.Bridge().ClearFaults();
    EXPECT_GT(sim::InterruptTime() - start, 630 * Ms);
    EXPECT_EQ(tuner.AgcState, 3);

    sim::AdvanceClockMs(100);
    std::vector<std::pair<int64_t, uint8_t>> expected = {{0, 0xC0}, {10, 0xC0}, {680, 0x60}};
    EXPECT_EQ(AuxiliaryWritesSince(bench.Pll, start), expected);
}

// The 0x40 write is still waiting for a slow bridge when the 0x60 tick
// comes: at most one write is outstanding, so the tick drops its own.
TEST_F(AgcCycle, TickDropsItsWriteWhileTheLastIsPending)
{
    TunerBuilder bench(12);
    int64_t start = sim::InterruptTime();
    StartSecamL(bench);
    sim::AdvanceClock(625 * Ms);
    bench.Bridge().BusyOnEveryByte(60);  // 12 ms per byte, 60 ms for the write
    sim::AdvanceClock(10 * Ms);
    bench.Bridge().ClearFaults();
    sim::AdvanceClockMs(100);

    std::vector<std::pair<int64_t, uint8_t>> writes = AuxiliaryWritesSince(bench.Pll, start);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[2].second, 0x40);
    EXPECT_EQ(bench.Tuner().AgcState, 6);
}

TEST_F(AgcCycle, TimerThatCannotStartIsGivenUp)
{
    for (uint32_t failing : {1u, 2u}) {  // the wrapper, then the core
        SCOPED_TRACE("allocation " + std::to_string(failing));
        TunerBuilder bench(12);
        TunerDevice& tuner = bench.Tuner();
        tuner.CurrentStandard = KS_AnalogVideo_SECAM_L;
        tuner.SetVideoStandard(KS_AnalogVideo_SECAM_L);
        sim::FailNthAllocation(failing);
        EXPECT_TRUE(tuner.TuneFrequency(175250000));
        sim::ClearPoolFaults();
        EXPECT_EQ(tuner.AgcTimer, nullptr);
        EXPECT_EQ(tuner.AgcState, 2);
        EXPECT_EQ(bench.Pll.AuxiliaryByte(), 0xC0);
        EXPECT_EQ(TimerBlocksInPool(bench.Tuner()), 0u);

        // The next tune after a standard change tries again.
        tuner.SetVideoStandard(KS_AnalogVideo_SECAM_L);
        ASSERT_TRUE(tuner.TuneFrequency(175250000));
        EXPECT_NE(tuner.AgcTimer, nullptr);
        bench.Pll.ClearWrites();
        sim::AdvanceClockMs(10);
        EXPECT_EQ(bench.Pll.AuxiliaryWrites().size(), 1u);
    }
}

// A timer of the test's, set before the cycle's and due at the same instant
// as its first tick, queues a work item that ends the cycle: it runs while
// the tick's write is still queued behind it.
struct TeardownProbe {
    KDPC Dpc;
    KTIMER Timer;
    IO_WORKITEM* Item = nullptr;
    TunerBuilder* Bench = nullptr;
    size_t WritesAtTeardown = 0;
    bool Done = false;
};

void NTAPI EndCycle(DEVICE_OBJECT*, PVOID context)
{
    auto* probe = static_cast<TeardownProbe*>(context);
    probe->Bench->Tuner().StopAgcCycle();
    probe->WritesAtTeardown = probe->Bench->Pll.AuxiliaryWrites().size();
    probe->Done = true;
}

void NTAPI QueueEndCycle(KDPC*, PVOID context, PVOID, PVOID)
{
    auto* probe = static_cast<TeardownProbe*>(context);
    IoQueueWorkItem(probe->Item, EndCycle, DelayedWorkQueue, probe);
}

TEST_F(AgcCycle, TeardownWaitsForTheQueuedWrite)
{
    TunerBuilder bench(12);
    auto probe = std::make_unique<TeardownProbe>();
    probe->Bench = &bench;
    probe->Item = IoAllocateWorkItem(bench.WorkItemDevice());
    KeInitializeDpc(&probe->Dpc, QueueEndCycle, probe.get());
    KeInitializeTimerEx(&probe->Timer, NotificationTimer);
    KeSetTimerEx(&probe->Timer, RtlConvertLongToLargeInteger(-10 * Ms), 0, &probe->Dpc);

    StartSecamL(bench);
    sim::AdvanceClockMs(10);
    ASSERT_TRUE(probe->Done);
    // The tick's 0xC0 reached the module before the teardown returned.
    EXPECT_EQ(probe->WritesAtTeardown, 2u);
    EXPECT_EQ(bench.Tuner().AgcTimer, nullptr);
    EXPECT_EQ(TimerBlocksInPool(bench.Tuner()), 0u);
    sim::AdvanceClockMs(100);
    EXPECT_EQ(bench.Pll.AuxiliaryWrites().size(), 2u);
    IoFreeWorkItem(probe->Item);
}

void WaitUntil(const std::atomic<bool>& flag)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!flag && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(flag.load());
}

// Lets a held processor go on after a while, so that a teardown on this
// thread finds it still busy.
void ReleaseLater(std::atomic<bool>& hold)
{
    std::thread([&hold] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        hold = false;
    }).detach();
}

// The tick's DPC is queued behind another DPC that holds a second processor
// when the cycle ends: the teardown takes it out of the queue and waits for
// the processor before the timer's memory goes.
struct HeldDpc {
    KDPC Dpc;
    KTIMER Timer;
    std::atomic<bool> Hold{true};
    std::atomic<bool> Entered{false};
};

void NTAPI HoldProcessor(KDPC*, PVOID context, PVOID, PVOID)
{
    auto* held = static_cast<HeldDpc*>(context);
    held->Entered = true;
    while (held->Hold) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST_F(AgcCycle, TeardownTakesTheQueuedTickOutOfTheQueue)
{
    TunerBuilder bench(12);
    auto held = std::make_unique<HeldDpc>();
    KeInitializeDpc(&held->Dpc, HoldProcessor, held.get());
    KeInitializeTimerEx(&held->Timer, NotificationTimer);
    KeSetTimerEx(&held->Timer, RtlConvertLongToLargeInteger(-10 * Ms), 0, &held->Dpc);
    StartSecamL(bench);

    std::thread processor([] { sim::AdvanceClockMs(10); });
    WaitUntil(held->Entered);
    ReleaseLater(held->Hold);
    // As the device stop ends it, with the cycle still in state 2.
    bench.Tuner().DestroyAgcTimer();
    processor.join();

    EXPECT_EQ(bench.Tuner().AgcTimer, nullptr);
    EXPECT_EQ(TimerBlocksInPool(bench.Tuner()), 0u);
    // The tick never ran: no write beyond the tune's own, and no state change.
    EXPECT_EQ(bench.Pll.AuxiliaryWrites().size(), 1u);
    EXPECT_EQ(bench.Tuner().AgcState, 2);
}

// The tick's write is under way on another processor when the cycle ends:
// the teardown waits for it, and the write frees its own work item.
TEST_F(AgcCycle, TeardownWaitsForAWriteOnAnotherProcessor)
{
    TunerBuilder bench(12);
    StartSecamL(bench);
    std::atomic<bool> hold{true};
    std::atomic<bool> writing{false};
    bench.Bus().AddListener([&](const sim::BusSegment& segment) {
        if (segment.Address != TunerAddress) return;
        writing = true;
        while (hold) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });

    std::thread processor([] { sim::AdvanceClockMs(10); });
    WaitUntil(writing);
    ReleaseLater(hold);
    bench.Tuner().StopAgcCycle();
    // The write was done before the teardown returned.
    EXPECT_FALSE(hold.load());
    EXPECT_EQ(bench.Pll.AuxiliaryWrites().size(), 2u);
    EXPECT_EQ(bench.Tuner().AgcWorkItem, nullptr);
    processor.join();
}

}  // namespace
