// The bus and the two chip models, driven directly as a bridge would drive them.
#include <gtest/gtest.h>

#include "sim/bus/Eeprom.h"
#include "sim/bus/I2cBus.h"
#include "sim/bus/RegisterFile.h"
#include "sim/bus/TraceText.h"
#include "tests/support/KernelTest.h"

namespace {

using Lines = std::vector<std::string>;

class SimulatedBusTest : public KernelTest {
protected:
    void Write(uint8_t address, std::initializer_list<uint8_t> bytes, bool stop = true)
    {
        bus.Start(uint8_t(address & 0xFE));
        for (uint8_t byte : bytes) bus.Write(byte);
        if (stop) bus.Stop();
    }

    std::vector<uint8_t> Read(uint8_t address, size_t count)
    {
        std::vector<uint8_t> bytes;
        bus.Start(uint8_t(address | 1));
        for (size_t i = 0; i < count; ++i) bytes.push_back(bus.Read(i + 1 < count));
        bus.Stop();
        return bytes;
    }

    sim::I2cBus bus;
};

TEST_F(SimulatedBusTest, AnAddressWithoutDeviceIsNotAcknowledgedAndReadsFloatHigh)
{
    sim::RegisterFile chip;
    bus.Attach(0xC0, &chip);

    EXPECT_FALSE(bus.Start(0xC2));
    EXPECT_FALSE(bus.Write(0x01));
    bus.Reset();
    EXPECT_FALSE(bus.Start(0xC3));
    EXPECT_EQ(bus.Read(false), 0xFF);
    bus.Stop();
    EXPECT_TRUE(bus.Start(0xC1));  // bit 0 is the direction, not part of the address
    bus.Stop();

    EXPECT_EQ(sim::Describe(bus.Trace()), (Lines{"S C2~ W 01~ reset", "S C2~ R FF~ P", "S C0 R P"}));
}

TEST_F(SimulatedBusTest, TraceMarksRepeatedStartsAndListenersSeeClosedSegmentsInOrder)
{
    sim::RegisterFile chip;
    chip.SetRegister(5, 0x37);
    bus.Attach(0xC0, &chip);
    Lines heard;
    int id = bus.AddListener([&](const sim::BusSegment& s) { heard.push_back(sim::Describe(s)); });

    sim::AdvanceClock(1234);
    Write(0xC0, {0x05}, false);
    EXPECT_TRUE(heard.empty());  // still running
    EXPECT_TRUE(bus.Trace().back().Open);
    EXPECT_EQ(bus.Trace().back().Time, sim::InterruptTime());
    EXPECT_EQ(Read(0xC0, 2), (std::vector<uint8_t>{0x37, 0x00}));
    Write(0xC0, {0x06}, false);

    Lines closed = {"S C0 W 05", "Sr C0 R 37 00~ P"};
    EXPECT_EQ(heard, closed);
    EXPECT_EQ(sim::Describe(bus.Trace()), (Lines{"S C0 W 05", "Sr C0 R 37 00~ P", "S C0 W 06"}));
    bus.ClearTrace();
    EXPECT_EQ(sim::Describe(bus.Trace()), Lines{"S C0 W 06"});  // the running segment stays
    bus.RemoveListener(id);
    bus.Stop();
    EXPECT_EQ(heard, closed);
}

TEST_F(SimulatedBusTest, ATransmitterLetsGoOnceTheMasterStopsAcknowledging)
{
    sim::RegisterFile chip;
    chip.SetRegister(0, 0x11);
    chip.SetRegister(1, 0x22);
    bus.Attach(0xC0, &chip);
    bus.Start(0xC1);
    EXPECT_EQ(bus.Read(false), 0x11);
    EXPECT_EQ(bus.Read(false), 0xFF);
    bus.Stop();
    EXPECT_EQ(chip.Subaddress(), 1);
}

TEST_F(SimulatedBusTest, RegisterFileTakesASubaddressThenWritesAndReadsWithAutoIncrement)
{
    sim::RegisterFile chip(4);
    bus.Attach(0x86, &chip);

    Write(0x86, {0x03, 0xA0, 0xA1});  // wraps at the end of the file
    EXPECT_EQ(chip.Registers(), (std::vector<uint8_t>{0xA1, 0, 0, 0xA0}));
    EXPECT_EQ(chip.Written(), (std::vector<uint8_t>{0xA0, 0xA1}));
    EXPECT_EQ(Read(0x86, 2), (std::vector<uint8_t>{0x00, 0x00}));  // from where the write left off: 1, 2
    Write(0x86, {0x03});
    EXPECT_EQ(Read(0x86, 2), (std::vector<uint8_t>{0xA0, 0xA1}));

    chip.SetAnswering(false);
    EXPECT_FALSE(bus.Start(0x86));
    bus.Reset();
}

TEST_F(SimulatedBusTest, EepromReadsSequentiallyFromTheWordAddressAndWraps)
{
    sim::Eeprom eeprom;
    std::vector<uint8_t> image(256);
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i ^ 0x5A);
    eeprom.Load(image);
    bus.Attach(0xA0, &eeprom);

    Write(0xA0, {0xFE});
    EXPECT_EQ(Read(0xA0, 3), (std::vector<uint8_t>{0xFE ^ 0x5A, 0xFF ^ 0x5A, 0x00 ^ 0x5A}));
    EXPECT_EQ(Read(0xA0, 1), std::vector<uint8_t>{0x01 ^ 0x5A});  // current-address read
    EXPECT_EQ(eeprom.AddressCounter(), 2);

    eeprom.Load({0x12});
    EXPECT_EQ(eeprom.Byte(0), 0x12);
    EXPECT_EQ(eeprom.Byte(1), 0xFF);
    eeprom.SetAnswering(false);
    EXPECT_FALSE(bus.Start(0xA0));
    bus.Reset();
}

TEST_F(SimulatedBusTest, EepromTakesAPageWriteAtStopOnlyAndWrapsWithinThePage)
{
    sim::Eeprom eeprom;
    bus.Attach(0xA0, &eeprom);

    Write(0xA0, {0x06, 0x10, 0x11, 0x12}, false);
    EXPECT_EQ(eeprom.Byte(0x06), 0xFF);
    bus.Start(0xA0);  // a repeated START abandons it
    bus.Stop();
    EXPECT_EQ(eeprom.Byte(0x06), 0xFF);

    Write(0xA0, {0x06, 0x10, 0x11, 0x12});
    EXPECT_EQ(eeprom.Byte(0x06), 0x10);
    EXPECT_EQ(eeprom.Byte(0x07), 0x11);
    EXPECT_EQ(eeprom.Byte(0x00), 0x12);  // same 8-byte page
    EXPECT_EQ(eeprom.Byte(0x08), 0xFF);
}

}  // namespace
