// A board for construction tests: a capture bridge and its bus with the
// configuration EEPROM, the IF demodulator and the tuner module on it, the
// bridge's device object carrying the driver registry key, and a zero-filled
// device extension in which the tuner object is built, on a bus opened
// around the construction as device start does.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/DeviceExtension.h"
#include "sim/Registry.h"
#include "sim/bus/Eeprom.h"
#include "sim/RfEnvironment.h"
#include "sim/chips/IfDemodulator.h"
#include "sim/chips/Mt2032.h"
#include "tests/support/I2cBench.h"
#include "tests/support/KernelTest.h"

constexpr uint8_t BoardEepromAddress = 0xA0;
constexpr uint8_t DemodulatorAddress = 0x86;
constexpr uint8_t BoardTunerAddress = 0xC2;

class ConstructionTest : public KernelTest {
public:
    void SetUp() override
    {
        KernelTest::SetUp();
        bench = std::make_unique<I2cBench>();
        bench->Bus.Attach(BoardEepromAddress, &eeprom);
        bench->Bus.Attach(DemodulatorAddress, &demodulator);
        bench->Bus.Attach(BoardTunerAddress, &synthesizer);
        extension = std::make_unique<DeviceExtension>();
        std::memset(extension.get(), 0, sizeof(DeviceExtension));
    }

    void TearDown() override
    {
        Release();
        bench->Bus.Detach(BoardEepromAddress);
        bench->Bus.Detach(DemodulatorAddress);
        bench->Bus.Detach(BoardTunerAddress);
        bench.reset();
        KernelTest::TearDown();
    }

    DEVICE_OBJECT* Pdo() { return bench->Bridge.Device(); }
    I2cClient* Client() { return bench->Client(); }

    void Set(const std::u16string& name, const std::u16string& text) { sim::SetRegistryString(Pdo(), name, text); }

    void Configure(const std::u16string& model, const std::u16string& address = u"0xC2")
    {
        Set(u"TunerType", model);
        Set(u"Address", address);
    }

    // A board EEPROM image naming a tuner by layout marker and code.
    void BoardEeprom(uint8_t marker, uint8_t code)
    {
        std::vector<uint8_t> image(0x60, 0x00);
        image[0x59] = marker;
        image[0x5E] = code;
        eeprom.Load(image);
        Set(u"EEPROMAddr", u"0xA0");
    }

    // Builds the tuner object in a fresh zero-filled slot and returns the
    // construction code, which starts at the preset.
    uint32_t Construct(uint32_t preset = ConstructionNoMemory, bool withClient = true)
    {
        Release();
        std::memset(extension.get(), 0, sizeof(DeviceExtension));
        bench->Bus.ClearTrace();
        EXPECT_TRUE(Client()->OpenBusWithRetry());
        uint32_t code = preset;
        tuner = new (extension->TunerSlot, sizeof extension->TunerSlot)
            TunerDevice(Pdo(), withClient ? Client() : nullptr, &code);
        Client()->CloseBus();
        return code;
    }

    // What the device stop would give back.
    void Release()
    {
        if (tuner == nullptr) return;
        if (tuner->Mediums != nullptr) ExFreePool(tuner->Mediums);
        if (tuner->PinDirections != nullptr) ExFreePool(tuner->PinDirections);
        tuner->Mediums = nullptr;
        tuner->PinDirections = nullptr;
        tuner = nullptr;
    }

    // Data bytes of every write to the address, one entry per transfer.
    std::vector<std::vector<uint8_t>> WritesTo(uint8_t address) const
    {
        std::vector<std::vector<uint8_t>> writes;
        for (const sim::BusSegment& segment : bench->Bus.Trace()) {
            if (segment.Address == address && !segment.Read) writes.push_back(segment.Data);
        }
        return writes;
    }

    bool Queried(const std::u16string& name) const
    {
        for (const std::u16string& queried : sim::RegistryQueries()) {
            if (queried == name) return true;
        }
        return false;
    }

    std::unique_ptr<I2cBench> bench;
    sim::Eeprom eeprom;
    sim::RfEnvironment rf;
    sim::IfDemodulator demodulator{&rf};
    // The tuner module: only the synthesizer is written during construction.
    sim::Mt2032 synthesizer{&rf};
    std::unique_ptr<DeviceExtension> extension;
    TunerDevice* tuner = nullptr;
};
