// A board as the command line describes it, before it becomes a simulated
// board: the driver key's values, the chips on the bus, the antenna and the
// faults to inject. Board files and shortcuts fill it in layers; what a layer
// leaves unset keeps the value of the layer below.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tvtuner {

struct StationSetup {
    uint32_t FrequencyHz = 0;
    bool Fm = false;
    uint32_t Standard = 0;  // KS_AnalogVideo_* of a TV station
    uint32_t Strength = 100;
};

struct FaultSetup {
    bool NoInterface = false;                 // the bridge offers no I2C interface
    std::optional<uint32_t> RefuseOpens;      // the bridge refuses this many bus opens
    std::optional<uint32_t> FailAccessAtByte; // i2cAccess fails at this byte command
    std::optional<uint32_t> ErrorAtByte;      // the bridge answers an error at this byte
    bool RefuseNotifications = false;
    std::optional<uint32_t> TunerRefusesWrites;        // the next N writes find no acknowledge
    std::optional<uint32_t> DemodulatorRefusesWrites;
    bool EepromSilent = false;                // the EEPROM does not answer
    std::optional<uint32_t> FailAllocation;   // the Nth pool allocation fails
};

struct BoardSetup {
    std::vector<std::string> Sources;  // where the layers came from, for messages

    // The driver key's values, as an installer stores them: text.
    std::vector<std::pair<std::string, std::string>> Registry;

    // The tuner module fitted. The model follows "TunerType" and the address
    // "Address" unless given here.
    bool TunerFitted = true;
    std::optional<uint32_t> TunerModel;
    std::optional<uint8_t> TunerAddress;
    std::optional<uint8_t> TunerStatus;  // pinned status byte

    // The IF demodulator at 0x86; by default where the module's boards have one.
    std::optional<bool> DemodulatorFitted;
    std::optional<uint8_t> DemodulatorStatus;

    // The configuration EEPROM; fitted when an address, image or byte is given
    // or "EEPROMAddr" names one.
    std::optional<uint8_t> EepromAddress;
    std::optional<std::vector<uint8_t>> EepromImage;
    std::map<uint8_t, uint8_t> EepromBytes;

    std::optional<std::vector<StationSetup>> Stations;
    FaultSetup Faults;

    // Sets a value, replacing one of the same name in any case.
    void SetRegistry(const std::string& name, const std::string& value);
    void RemoveRegistry(const std::string& name);
    std::optional<std::string> RegistryValue(const std::string& name) const;
};

}  // namespace tvtuner
