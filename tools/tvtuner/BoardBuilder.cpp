#include "tools/tvtuner/BoardBuilder.h"

#include "sim/Kernel.h"
#include "sim/bus/Eeprom.h"
#include "sim/chips/IfDemodulator.h"
#include "sim/chips/PllTuner.h"
#include "tools/tvtuner/Values.h"
#include "tuner/TunerDevice.h"

namespace tvtuner {
namespace {

constexpr uint8_t UsualTunerAddress = 0xC2;
constexpr uint8_t UsualEepromAddress = 0xA0;

std::optional<uint32_t> RegistryNumber(const BoardSetup& setup, const char* name)
{
    std::optional<std::string> text = setup.RegistryValue(name);
    return text ? ParseUnsigned(*text) : std::nullopt;
}

// Only a catalogue name counts here, as for the driver's "TunerType".
std::optional<uint32_t> RegistryModel(const BoardSetup& setup)
{
    std::optional<std::string> text = setup.RegistryValue("TunerType");
    if (!text) return std::nullopt;
    for (uint32_t model = 0; model < TunerModelCount; ++model) {
        if (Lowercase(ModelName(model)) == Lowercase(*text)) return model;
    }
    return std::nullopt;
}

std::u16string Wide(const std::string& text)
{
    std::u16string wide;
    for (unsigned char c : text) wide += char16_t(c);
    return wide;
}

}  // namespace

std::optional<FittedModule> ModuleOf(const BoardSetup& setup)
{
    if (!setup.TunerFitted) return std::nullopt;
    std::optional<uint32_t> model = setup.TunerModel ? setup.TunerModel : RegistryModel(setup);
    if (!model) return std::nullopt;
    FittedModule module;
    module.Model = *model;
    std::optional<uint32_t> address = RegistryNumber(setup, "Address");
    module.Address = setup.TunerAddress.value_or(address ? uint8_t(*address & 0xFE) : UsualTunerAddress);
    return module;
}

std::optional<uint8_t> EepromAddressOf(const BoardSetup& setup)
{
    if (setup.EepromAddress) return setup.EepromAddress;
    if (std::optional<uint32_t> address = RegistryNumber(setup, "EEPROMAddr")) return uint8_t(*address & 0xFE);
    if (setup.EepromImage || !setup.EepromBytes.empty()) return UsualEepromAddress;
    return std::nullopt;
}

sim::BoardDescription Describe(const BoardSetup& setup)
{
    sim::BoardDescription description;
    if (std::optional<FittedModule> module = ModuleOf(setup)) {
        description = sim::ModuleBoard(module->Model, module->Address);
        bool wanted = setup.DemodulatorFitted.value_or(sim::ModelHasIfDemodulator(module->Model));
        std::erase_if(description.Devices, [wanted](const sim::BoardDevice& device) {
            return device.Kind == sim::BoardChip::IfDemodulator && !wanted;
        });
        bool present = false;
        for (const sim::BoardDevice& device : description.Devices)
            present = present || device.Kind == sim::BoardChip::IfDemodulator;
        if (wanted && !present) {
            sim::BoardDevice demodulator;
            demodulator.Kind = sim::BoardChip::IfDemodulator;
            demodulator.Address = sim::IfDemodulator::Address;
            description.Devices.push_back(demodulator);
        }
    } else if (setup.DemodulatorFitted.value_or(false)) {
        sim::BoardDevice demodulator;
        demodulator.Kind = sim::BoardChip::IfDemodulator;
        demodulator.Address = sim::IfDemodulator::Address;
        description.Devices.push_back(demodulator);
    }

    if (std::optional<uint8_t> address = EepromAddressOf(setup)) {
        sim::BoardDevice eeprom;
        eeprom.Kind = sim::BoardChip::Eeprom;
        eeprom.Address = *address;
        eeprom.Image = setup.EepromImage.value_or(std::vector<uint8_t>{});
        eeprom.Image.resize(sim::Eeprom::Size, 0xFF);  // erased cells
        for (const auto& [offset, value] : setup.EepromBytes) eeprom.Image[offset] = value;
        description.Devices.push_back(eeprom);
    }

    for (const auto& [name, value] : setup.Registry) description.WithRegistry(Wide(name), Wide(value));
    for (const StationSetup& station : setup.Stations.value_or(std::vector<StationSetup>{})) {
        sim::Station simulated;
        simulated.FrequencyHz = station.FrequencyHz;
        simulated.Fm = station.Fm;
        simulated.Standard = station.Standard;
        simulated.Strength = station.Strength;
        description.Stations.push_back(simulated);
    }
    description.TunerStatus = setup.TunerStatus;
    description.DemodulatorStatus = setup.DemodulatorStatus;
    return description;
}

void ArmFaults(const BoardSetup& setup, sim::Board& board)
{
    const FaultSetup& faults = setup.Faults;
    sim::CaptureBridge& bridge = board.Bridge();
    if (faults.NoInterface) bridge.SetInterfaceOffer(sim::InterfaceOffer::NotOffered);
    if (faults.RefuseOpens) bridge.RefuseOpens(*faults.RefuseOpens);
    if (faults.FailAccessAtByte) bridge.FailAccessAtByte(*faults.FailAccessAtByte);
    if (faults.ErrorAtByte) bridge.ErrorAtByte(*faults.ErrorAtByte);
    if (faults.RefuseNotifications) bridge.RefuseNotifications(true);
    if (faults.TunerRefusesWrites && board.Tuner() != nullptr) board.Tuner()->RefuseNextWrites(*faults.TunerRefusesWrites);
    if (faults.DemodulatorRefusesWrites && board.Demodulator() != nullptr)
        board.Demodulator()->RefuseNextWrites(*faults.DemodulatorRefusesWrites);
    if (faults.EepromSilent && board.BoardEeprom() != nullptr) board.BoardEeprom()->SetAnswering(false);
    if (faults.FailAllocation) sim::FailNthAllocation(*faults.FailAllocation);
}

}  // namespace tvtuner
