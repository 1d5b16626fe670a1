// Device power requests: which returns to D0 program the tuner again, and
// what the module sees on the bus when they do.
#include <gtest/gtest.h>

#include "sim/Kernel.h"
#include "sim/chips/PllTuner.h"
#include "tests/driver/DriverFixture.h"

namespace {

using test::BoardFor;
using test::BusWrite;
using test::BusWrites;
using test::DriverTest;
namespace requests = sim::requests;

constexpr uint32_t Fm1216me = 12;
constexpr uint32_t Uhf21Hz = 471250000;
constexpr uint32_t RadioHz = 100000000;

class Power : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        board_ = std::make_unique<sim::Board>(BoardFor(Fm1216me));
        adapter_ = board_->CreateAdapter(Driver());
        sim::StartResult start = adapter_->Start();
        ASSERT_TRUE(start.Succeeded());
        startWrites_ = BusWrites(board_->Bus());
        board_->Bus().ClearTrace();
    }
    void TearDown() override
    {
        adapter_.reset();
        board_.reset();
        DriverTest::TearDown();
    }

    // The bus writes that one request causes.
    std::vector<BusWrite> WritesOf(const sim::Request& request, NTSTATUS expected = STATUS_SUCCESS)
    {
        board_->Bus().ClearTrace();
        EXPECT_EQ(adapter_->Send(request).Status, expected) << request.Name;
        std::vector<BusWrite> writes = BusWrites(board_->Bus());
        board_->Bus().ClearTrace();
        return writes;
    }

    std::vector<BusWrite> WritesOfPowerSequence(const std::vector<DEVICE_POWER_STATE>& states)
    {
        std::vector<BusWrite> writes;
        for (DEVICE_POWER_STATE state : states) {
            std::vector<BusWrite> step = WritesOf(requests::Power(state));
            writes.insert(writes.end(), step.begin(), step.end());
        }
        return writes;
    }

    std::unique_ptr<sim::Board> board_;
    std::unique_ptr<sim::Adapter> adapter_;
    std::vector<BusWrite> startWrites_;  // the first standard's demodulator write
};

TEST_F(Power, OnlyAReturnFromD3ProgramsTheTunerAgain)
{
    std::vector<BusWrite> tune = WritesOf(requests::SetFrequency(Uhf21Hz));
    ASSERT_FALSE(tune.empty());
    std::vector<BusWrite> reprogram = startWrites_;
    reprogram.insert(reprogram.end(), tune.begin(), tune.end());

    struct Case {
        std::vector<DEVICE_POWER_STATE> States;
        bool Reprograms;
    };
    const Case cases[] = {
        {{PowerDeviceD3, PowerDeviceD0}, true},
        {{PowerDeviceD3, PowerDeviceD2, PowerDeviceD0}, true},
        {{PowerDeviceD1, PowerDeviceD0}, false},
        {{PowerDeviceD2, PowerDeviceD0}, false},
        {{PowerDeviceD0, PowerDeviceD0}, false},
        {{PowerDeviceD3, PowerDeviceD0, PowerDeviceD1, PowerDeviceD0}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.States));
        std::vector<BusWrite> writes = WritesOfPowerSequence(c.States);
        EXPECT_EQ(writes, c.Reprograms ? reprogram : std::vector<BusWrite>{});
        EXPECT_NEAR(board_->Tuner()->ReceivedHz(), Uhf21Hz, test::HalfStepHz);
    }
}

TEST_F(Power, WithoutAFrequencyOnlyTheStandardIsProgrammedAgain)
{
    EXPECT_EQ(WritesOfPowerSequence({PowerDeviceD3, PowerDeviceD0}), startWrites_);
    EXPECT_FALSE(board_->Tuner()->Programmed());
}

TEST_F(Power, AFailedTuneOnTheReturnToD0LeavesTheCurrentFrequencyToBeTunedAgain)
{
    WritesOf(requests::SetFrequency(Uhf21Hz));
    WritesOf(requests::Power(PowerDeviceD3));
    board_->Tuner()->RefuseNextWrites(2);  // the PLL word and the auxiliary byte
    WritesOf(requests::Power(PowerDeviceD0));

    std::vector<BusWrite> retune = WritesOf(requests::SetFrequency(Uhf21Hz));
    EXPECT_FALSE(retune.empty());
    EXPECT_TRUE(WritesOf(requests::SetFrequency(Uhf21Hz)).empty());
}

TEST_F(Power, InRadioModeTheRadioSetUpIsMadeAgainBeforeTheTune)
{
    WritesOf(requests::SetFrequency(Uhf21Hz));
    std::vector<BusWrite> reprogram = WritesOf(requests::SetMode(KSPROPERTY_TUNER_MODE_FM_RADIO));
    std::vector<BusWrite> tune = WritesOf(requests::SetFrequency(RadioHz));
    reprogram.insert(reprogram.end(), tune.begin(), tune.end());

    EXPECT_EQ(WritesOfPowerSequence({PowerDeviceD3, PowerDeviceD0}), reprogram);
    EXPECT_TRUE(board_->Tuner()->Fm());
}

TEST_F(Power, PowerRequestsByMinorFunction)
{
    WritesOf(requests::SetFrequency(Uhf21Hz));
    struct Case {
        const char* Name;
        sim::Request Request;
        NTSTATUS Status;
    };
    sim::Request withoutIrp = requests::Power(PowerDeviceD3);
    withoutIrp.Irp.reset();
    const Case cases[] = {
        {"query", requests::Power(PowerDeviceD3, IRP_MN_QUERY_POWER), STATUS_SUCCESS},
        {"wait wake", requests::Power(PowerDeviceD3, IRP_MN_WAIT_WAKE), STATUS_SUCCESS},
        {"sequence", requests::Power(PowerDeviceD3, IRP_MN_POWER_SEQUENCE), STATUS_SUCCESS},
        {"minor 4", requests::Power(PowerDeviceD3, 4), STATUS_NOT_IMPLEMENTED},
        {"state 0", requests::Power(PowerDeviceUnspecified), STATUS_SUCCESS},
        {"state 6", requests::Power(DEVICE_POWER_STATE(6)), STATUS_SUCCESS},
        {"no IRP", withoutIrp, STATUS_NOT_IMPLEMENTED},
        {"Plug and Play", requests::Unknown(IRP_MJ_PNP, IRP_MN_STOP_DEVICE, PowerDeviceD3), STATUS_NOT_IMPLEMENTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_TRUE(WritesOf(c.Request, c.Status).empty());
    }
    // None of them left D0: a return to D0 sends nothing.
    EXPECT_TRUE(WritesOfPowerSequence({PowerDeviceD0}).empty());
}

TEST_F(Power, AnUnknownCommandCarryingAPowerRequestChangesThePowerState)
{
    std::vector<BusWrite> tune = WritesOf(requests::SetFrequency(Uhf21Hz));
    std::vector<BusWrite> reprogram = startWrites_;
    reprogram.insert(reprogram.end(), tune.begin(), tune.end());

    EXPECT_TRUE(WritesOf(requests::Unknown(IRP_MJ_POWER, IRP_MN_SET_POWER, PowerDeviceD3)).empty());
    EXPECT_EQ(WritesOf(requests::Unknown(IRP_MJ_POWER, IRP_MN_SET_POWER, PowerDeviceD0)), reprogram);
    sim::Request withoutIrp = requests::Unknown(IRP_MJ_POWER, IRP_MN_SET_POWER, PowerDeviceD3);
    withoutIrp.Irp.reset();
    EXPECT_TRUE(WritesOf(withoutIrp, STATUS_NOT_IMPLEMENTED).empty());
}

}  // namespace
