// The simulated synthesizer on its own, driven through its bus side.
#include "sim/chips/Mt2032.h"

#include <gtest/gtest.h>

#include <vector>

#include "sim/Kernel.h"
#include "tests/support/KernelTest.h"

namespace {

class Mt2032Chip : public KernelTest {};

bool WriteTransaction(sim::Mt2032& chip, const std::vector<uint8_t>& bytes)
{
    bool acknowledged = chip.Start(false);
    for (size_t i = 0; acknowledged && i < bytes.size(); ++i) acknowledged = chip.Write(bytes[i]);
    chip.Stop();
    return acknowledged;
}

uint8_t ReadRegister(sim::Mt2032& chip, uint8_t index)
{
    chip.Start(false);
    chip.Write(index);
    chip.Start(true);
    uint8_t value = chip.Read();
    chip.Stop();
    return value;
}

struct TuneWords {
    std::vector<uint8_t> Lo1Group, Lo2Group, FractionGroup;
    uint32_t N1;
    uint8_t Band;
    uint32_t N2;
    uint32_t Fraction;
    double WantedHz;  // LO1 - LO2 - 38.9 MHz
};

// The three register groups of known tunes and what they set.
const TuneWords KnownTunes[] = {
    {{0x00, 0x1A, 0x42, 0x86}, {0x05, 0x18, 0xE4, 0x0F}, {0x0B, 0x0E, 0x81},
     218, 4, 200, 270, 1144500e3 - (1050000e3 + 270 * 5250e3 / 3780) - 38900e3},
    {{0x00, 0x24, 0x21, 0x86}, {0x05, 0xF7, 0xF4, 0x0F}, {0x0B, 0x4E, 0x8C},
     297, 2, 199, 3150, 1559250e3 - (1044750e3 + 3150 * 5250e3 / 3780) - 38900e3},
    {{0x00, 0x1E, 0x31, 0x86}, {0x05, 0x18, 0xE4, 0x0F}, {0x0B, 0xC4, 0x8E},
     249, 3, 200, 3780, 1307250e3 - (1050000e3 + 5250e3) - 38900e3},
    {{0x00, 0x1D, 0x37, 0x86}, {0x05, 0xD7, 0xE4, 0x0F}, {0x0B, 0xC7, 0x8B},
     247, 3, 198, 3015, 1296750e3 - (1039500e3 + 3015 * 5250e3 / 3780) - 38900e3},
};

TEST_F(Mt2032Chip, DecodesOscillatorsFromTheRegisterGroups)
{
    for (const TuneWords& tune : KnownTunes) {
        sim::Mt2032 chip;
        ASSERT_TRUE(WriteTransaction(chip, tune.Lo1Group));
        ASSERT_TRUE(WriteTransaction(chip, tune.Lo2Group));
        ASSERT_TRUE(WriteTransaction(chip, tune.FractionGroup));
        EXPECT_EQ(chip.N1(), tune.N1);
        EXPECT_EQ(chip.VcoBand(), tune.Band);
        EXPECT_EQ(chip.Lo1Hz(), uint64_t(tune.N1) * 5250000);
        EXPECT_EQ(chip.N2(), tune.N2);
        EXPECT_EQ(chip.Fraction(), tune.Fraction);
        EXPECT_NEAR(chip.WantedHz(), tune.WantedHz, 1.0) << "N1 " << tune.N1;
    }
}

TEST_F(Mt2032Chip, WritesAutoIncrementFromTheSubaddressAndStopAtRegister20)
{
    sim::Mt2032 chip;
    EXPECT_TRUE(WriteTransaction(chip, {0x13, 0xA1, 0xA2}));
    EXPECT_EQ(chip.Register(19), 0xA1);
    EXPECT_EQ(chip.Register(20), 0xA2);
    EXPECT_FALSE(chip.WasWritten(18));

    EXPECT_FALSE(WriteTransaction(chip, {0x14, 0x01, 0x02})) << "byte past register 20";
    EXPECT_EQ(chip.Register(20), 0x01);
    EXPECT_FALSE(WriteTransaction(chip, {0x15})) << "subaddress past register 20";

    ASSERT_EQ(chip.Writes().size(), 2u) << "a refused subaddress writes nothing";
    EXPECT_EQ(chip.Writes()[0], (std::vector<uint8_t>{0x13, 0xA1, 0xA2}));
}

TEST_F(Mt2032Chip, RegisterReadsFollowTheSubaddressAndReportLockAfterSettling)
{
    sim::Mt2032 chip;
    EXPECT_EQ(ReadRegister(chip, 14), 0) << "never programmed";
    WriteTransaction(chip, {0x0D, 0x32, 0x77});
    EXPECT_EQ(ReadRegister(chip, 13), 0x32);

    WriteTransaction(chip, KnownTunes[0].Lo1Group);
    EXPECT_EQ(ReadRegister(chip, 14), 0) << "written 0x77, but 14 is the status";
    sim::AdvanceClock(sim::Mt2032::SettlingTime);
    EXPECT_EQ(ReadRegister(chip, 14), sim::Mt2032::Lo1Locked | sim::Mt2032::Lo2Locked);

    WriteTransaction(chip, {0x02, 0x55});  // no oscillator register: no new settling
    EXPECT_NE(ReadRegister(chip, 14), 0);
}

TEST_F(Mt2032Chip, PublishesWhatItReceives)
{
    sim::RfEnvironment rf;
    sim::Mt2032 chip(&rf);
    sim::AdvanceClock(12345);
    const TuneWords& tune = KnownTunes[0];
    WriteTransaction(chip, tune.Lo1Group);
    WriteTransaction(chip, tune.Lo2Group);
    WriteTransaction(chip, tune.FractionGroup);
    EXPECT_TRUE(rf.Tuned.Programmed);
    EXPECT_FALSE(rf.Tuned.Fm);
    EXPECT_EQ(rf.Tuned.TunedHz, 55225000u);
    EXPECT_EQ(rf.Tuned.StepHz, 62500u);
    EXPECT_EQ(rf.Tuned.ProgrammedAt, sim::InterruptTime());

    chip.SetSecondIf(10700000, true);
    EXPECT_TRUE(rf.Tuned.Fm);
    EXPECT_EQ(rf.Tuned.StepHz, 50000u);
    EXPECT_EQ(rf.Tuned.TunedHz, 55225000u + 38900000u - 10700000u);
}

TEST_F(Mt2032Chip, SilentChipLeavesItsRegistersAlone)
{
    sim::Mt2032 chip;
    chip.SetAnswering(false);
    EXPECT_FALSE(WriteTransaction(chip, KnownTunes[0].Lo1Group));
    EXPECT_FALSE(chip.WasWritten(0));
    EXPECT_TRUE(chip.Writes().empty());
    chip.SetAnswering(true);
    EXPECT_TRUE(WriteTransaction(chip, KnownTunes[0].Lo1Group));
    EXPECT_EQ(chip.N1(), 218u);
}

}  // namespace
