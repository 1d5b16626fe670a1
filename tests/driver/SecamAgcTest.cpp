// A SECAM L board: the AGC cycle's timed writes of the auxiliary byte run
// beside the requests that tune, change power and stop the adapter.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "sim/Kernel.h"
#include "sim/chips/IfDemodulator.h"
#include "sim/chips/PllTuner.h"
#include "tests/driver/DriverFixture.h"

namespace {

using test::BoardFor;
using test::DriverTest;
namespace requests = sim::requests;

constexpr uint32_t Fm1216me = 12;
constexpr uint32_t Uhf21Hz = 471250000;
constexpr uint32_t Uhf30Hz = 543250000;
constexpr uint32_t BandIHz = 55750000;  // below 66 MHz: SECAM L'
constexpr int64_t Ms = 10000;           // 100 ns units

class SecamAgc : public DriverTest {
protected:
    void StartAdapter()
    {
        board_ = std::make_unique<sim::Board>(BoardFor(Fm1216me));
        adapter_ = board_->CreateAdapter(Driver());
        ASSERT_TRUE(adapter_->Start().Succeeded());
        ASSERT_EQ(adapter_->Send(requests::SetStandard(KS_AnalogVideo_SECAM_L)).Status, STATUS_SUCCESS);
    }
    void TearDown() override
    {
        adapter_.reset();
        board_.reset();
        DriverTest::TearDown();
    }

    // Marks the point from which AuxiliarySince reports.
    struct Mark {
        size_t Writes;
        int64_t Time;
    };
    Mark Now() const { return {board_->Tuner()->AuxiliaryWrites().size(), sim::InterruptTime()}; }

    // The auxiliary bytes written since the mark, with their times relative to it.
    std::vector<std::pair<int64_t, uint8_t>> AuxiliarySince(const Mark& mark) const
    {
        std::vector<std::pair<int64_t, uint8_t>> writes = board_->Tuner()->AuxiliaryWrites();
        writes.erase(writes.begin(), writes.begin() + std::ptrdiff_t(mark.Writes));
        for (auto& write : writes) write.first -= mark.Time;
        return writes;
    }

    std::unique_ptr<sim::Board> board_;
    std::unique_ptr<sim::Adapter> adapter_;
};

using Writes = std::vector<std::pair<int64_t, uint8_t>>;

TEST_F(SecamAgc, TheCycleRunsFollowsRetunesAndStopsWithThePowerAndTheStandard)
{
    StartAdapter();
    Mark tuned = Now();
    ASSERT_EQ(adapter_->Send(requests::SetFrequency(Uhf21Hz)).Status, STATUS_SUCCESS);
    sim::AdvanceClockMs(700);
    EXPECT_EQ(AuxiliarySince(tuned),
              (Writes{{0, 0xC0}, {10 * Ms, 0xC0}, {630 * Ms, 0x40}, {680 * Ms, 0x60}}));

    // A re-tune restarts the cycle with the new divider.
    Mark retuned = Now();
    ASSERT_EQ(adapter_->Send(requests::SetFrequency(Uhf30Hz)).Status, STATUS_SUCCESS);
    sim::AdvanceClockMs(15);
    EXPECT_EQ(AuxiliarySince(retuned), (Writes{{10 * Ms, 0xC0}}));
    EXPECT_NEAR(board_->Tuner()->ReceivedHz(), Uhf30Hz, test::HalfStepHz);

    // Below 66 MHz the tune switches to L' and the cycle goes on there.
    ASSERT_EQ(adapter_->Send(requests::SetFrequency(BandIHz)).Status, STATUS_SUCCESS);
    EXPECT_EQ(board_->Demodulator()->StandardName(), "L'");
    ASSERT_EQ(adapter_->Send(requests::SetFrequency(Uhf21Hz)).Status, STATUS_SUCCESS);
    EXPECT_EQ(board_->Demodulator()->StandardName(), "L");

    // Below D0 the module hears nothing; back in D0 it is programmed again
    // and the cycle starts over.
    ASSERT_EQ(adapter_->Send(requests::Power(PowerDeviceD1)).Status, STATUS_SUCCESS);
    Mark asleep = Now();
    sim::AdvanceClockMs(3000);
    EXPECT_TRUE(AuxiliarySince(asleep).empty());
    Mark awake = Now();
    ASSERT_EQ(adapter_->Send(requests::Power(PowerDeviceD0)).Status, STATUS_SUCCESS);
    sim::AdvanceClockMs(15);
    EXPECT_EQ(AuxiliarySince(awake), (Writes{{0, 0xC0}, {10 * Ms, 0xC0}}));
    EXPECT_NEAR(board_->Tuner()->ReceivedHz(), Uhf21Hz, test::HalfStepHz);

    // Another standard ends the cycle at the next tune.
    ASSERT_EQ(adapter_->Send(requests::SetStandard(KS_AnalogVideo_PAL_B)).Status, STATUS_SUCCESS);
    Mark palTune = Now();
    ASSERT_EQ(adapter_->Send(requests::SetFrequency(Uhf30Hz)).Status, STATUS_SUCCESS);
    sim::AdvanceClockMs(3000);
    EXPECT_EQ(AuxiliarySince(palTune), (Writes{{0, 0x30}}));
}

TEST_F(SecamAgc, TheStopEndsTheCycleWhileItsTimerFiresOnAnotherThread)
{
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        StartAdapter();
        ASSERT_EQ(adapter_->Send(requests::SetFrequency(Uhf21Hz + uint32_t(round) * 8000000)).Status,
                  STATUS_SUCCESS);
        std::atomic<bool> stopped = false;
        int64_t tuned = sim::InterruptTime();
        std::thread timer([&] {
            while (!stopped) sim::AdvanceClockMs(1);
        });
        // Let the cycle tick a little before the stop comes.
        while (sim::InterruptTime() < tuned + (15 + 3 * round) * Ms) std::this_thread::yield();
        EXPECT_EQ(adapter_->Stop().Status, STATUS_SUCCESS);
        stopped = true;
        timer.join();

        size_t writes = board_->Tuner()->AuxiliaryWrites().size();
        sim::AdvanceClockMs(1000);
        EXPECT_EQ(board_->Tuner()->AuxiliaryWrites().size(), writes);
        EXPECT_EQ(board_->Bridge().InterfaceReferences(), 0);
        adapter_.reset();
        board_.reset();
    }
}

}  // namespace
