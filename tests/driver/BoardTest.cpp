// Whole boards under the driver: the antenna reaches the status a client
// reads, the synthesizer's second IF follows the driver's mode, and the
// board EEPROM names the module.
#include <gtest/gtest.h>

#include "sim/Kernel.h"
#include "sim/bus/Eeprom.h"
#include "sim/chips/IfDemodulator.h"
#include "sim/chips/Mt2032.h"
#include "sim/chips/PllTuner.h"
#include "tests/driver/DriverFixture.h"

namespace {

using test::BoardFor;
using test::DriverTest;
namespace requests = sim::requests;

constexpr uint32_t Fm1216mk2 = 2;
constexpr uint32_t Mt2032Model = 17;
constexpr uint32_t Tvf6831 = 35;
constexpr uint32_t Uhf21Hz = 471250000;
constexpr uint32_t RadioHz = 100000000;

class Boards : public DriverTest {};

KSPROPERTY_TUNER_STATUS_S StatusAfterSettling(sim::Adapter& adapter)
{
    sim::AdvanceClockMs(20);
    sim::Result status = adapter.Send(requests::GetStatus());
    EXPECT_EQ(status.Status, STATUS_SUCCESS);
    return status.As<KSPROPERTY_TUNER_STATUS_S>().value_or(KSPROPERTY_TUNER_STATUS_S{});
}

TEST_F(Boards, TheStationsOnTheAirShowInTheTuningStatus)
{
    sim::BoardDescription description = BoardFor(Fm1216mk2);
    description.Stations.push_back({Uhf21Hz, false, KS_AnalogVideo_PAL_B, 100});
    sim::Board board(description);
    auto adapter = board.CreateAdapter(Driver());
    ASSERT_TRUE(adapter->Start().Succeeded());

    ASSERT_EQ(adapter->Send(requests::SetFrequency(Uhf21Hz)).Status, STATUS_SUCCESS);
    KSPROPERTY_TUNER_STATUS_S onStation = StatusAfterSettling(*adapter);
    EXPECT_EQ(onStation.Busy, 0u);
    EXPECT_EQ(int32_t(onStation.PLLOffset), 0);
    EXPECT_EQ(onStation.CurrentFrequency, Uhf21Hz);

    ASSERT_EQ(adapter->Send(requests::SetFrequency(Uhf21Hz - 125000)).Status, STATUS_SUCCESS);
    KSPROPERTY_TUNER_STATUS_S below = StatusAfterSettling(*adapter);
    EXPECT_EQ(below.Busy, 0u);
    EXPECT_GT(int32_t(below.PLLOffset), 0);  // the station lies above
}

TEST_F(Boards, TheSynthesizersSecondIfFollowsTheDriversMode)
{
    sim::Board board(BoardFor(Mt2032Model));
    auto adapter = board.CreateAdapter(Driver());
    ASSERT_TRUE(adapter->Start().Succeeded());

    ASSERT_EQ(adapter->Send(requests::SetFrequency(Uhf21Hz)).Status, STATUS_SUCCESS);
    EXPECT_NEAR(board.Synthesizer()->WantedHz(), Uhf21Hz, 50000);

    ASSERT_EQ(adapter->Send(requests::SetMode(KSPROPERTY_TUNER_MODE_FM_RADIO)).Status, STATUS_SUCCESS);
    ASSERT_EQ(adapter->Send(requests::SetFrequency(RadioHz)).Status, STATUS_SUCCESS);
    EXPECT_NEAR(board.Synthesizer()->WantedHz(), RadioHz, 50000);
    EXPECT_TRUE(board.Rf().Tuned.Fm);
}

TEST_F(Boards, TheBoardEepromNamesTheModule)
{
    std::vector<uint8_t> image(sim::Eeprom::Size, 0xFF);
    image[0x59] = 0x04;  // name overrides
    image[0x5E] = 0x15;  // "TVF6831-DIFF"
    sim::BoardDescription description = sim::ModuleBoard(Tvf6831, 0xC2);
    description.Devices.push_back({sim::BoardChip::Eeprom, 0xA0, 0, image});
    description.WithRegistry(u"EEPROMAddr", u"0xA0").WithRegistry(u"TunerType", u"FI1216MK2");
    description.WithRegistry(u"Address", u"0xC2").WithRegistry(u"DefaultStandard", u"16");
    sim::Board board(description);
    auto adapter = board.CreateAdapter(Driver());

    ASSERT_TRUE(adapter->Start().Succeeded());
    // The registry's module has no demodulator; the EEPROM's has.
    EXPECT_TRUE(board.Demodulator()->Programmed());
    EXPECT_EQ(adapter->Send(requests::SetFrequency(Uhf21Hz)).Status, STATUS_SUCCESS);
    EXPECT_NEAR(board.Tuner()->ReceivedHz(), Uhf21Hz, test::HalfStepHz);
}

}  // namespace
