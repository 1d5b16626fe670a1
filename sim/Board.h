// A whole simulated capture board to start adapters on: the capture bridge
// with its I2C bus, the chips on the bus, the antenna's RF environment, and
// the physical device object whose driver key holds the configuration.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Kernel.h"
#include "sim/RfEnvironment.h"
#include "sim/bus/CaptureBridge.h"
#include "sim/bus/I2cBus.h"
#include "sim/stream/StreamClass.h"

namespace sim {

class Eeprom;
class IfDemodulator;
class Mt2032;
class PllTuner;
class RegisterFile;

enum class BoardChip { PllTuner, Mt2032, IfDemodulator, Eeprom, RegisterFile };

struct BoardDevice {
    BoardChip Kind = BoardChip::PllTuner;
    uint8_t Address = 0;          // 8-bit form
    uint32_t Model = 0;           // PllTuner: the catalogue model the module is
    std::vector<uint8_t> Image;   // Eeprom: contents from offset 0
};

struct BoardDescription {
    std::vector<BoardDevice> Devices;
    // The driver key's values as an installer stores them: strings.
    std::vector<std::pair<std::u16string, std::u16string>> Registry;
    std::vector<Station> Stations;
    std::optional<uint8_t> TunerStatus;        // pinned status byte of the tuner module
    std::optional<uint8_t> DemodulatorStatus;  // pinned status byte of the IF demodulator

    BoardDescription& WithRegistry(std::u16string name, std::u16string value)
    {
        Registry.emplace_back(std::move(name), std::move(value));
        return *this;
    }
};

// Whether the boards that carry a model's module also carry the IF
// demodulator at 0x86.
bool ModelHasIfDemodulator(uint32_t model);

// The module of a model at an address (the synthesizer for model 17), with
// the IF demodulator where the model's boards have one; no registry values.
BoardDescription ModuleBoard(uint32_t model, uint8_t address = 0xC2);

class Board {
public:
    explicit Board(const BoardDescription& description);
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    I2cBus& Bus() { return bus_; }
    CaptureBridge& Bridge() { return bridge_; }
    RfEnvironment& Rf() { return rf_; }
    DEVICE_OBJECT* RealPhysicalDevice() const { return realPdo_; }

    // The first chip of each kind, or null.
    PllTuner* Tuner() const { return pllTuner_; }
    Mt2032* Synthesizer() const { return mt2032_; }
    IfDemodulator* Demodulator() const { return demodulator_; }
    Eeprom* BoardEeprom() const { return eeprom_; }

    AdapterConfig AdapterConfiguration() const;
    std::unique_ptr<Adapter> CreateAdapter(std::shared_ptr<LoadedDriver> driver) const;

private:
    void AddDevice(const BoardDevice& device);

    RfEnvironment rf_;
    I2cBus bus_;
    CaptureBridge bridge_;
    DEVICE_OBJECT* realPdo_ = nullptr;
    std::vector<std::pair<uint8_t, std::shared_ptr<I2cDevice>>> chips_;
    PllTuner* pllTuner_ = nullptr;
    Mt2032* mt2032_ = nullptr;
    IfDemodulator* demodulator_ = nullptr;
    Eeprom* eeprom_ = nullptr;
    bool fmMode_ = false;  // as the bridge was last told
};

}  // namespace sim
