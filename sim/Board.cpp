#include "sim/Board.h"

#include "sim/Kernel.h"
#include "sim/Registry.h"
#include "sim/bus/Eeprom.h"
#include "sim/bus/RegisterFile.h"
#include "sim/chips/IfDemodulator.h"
#include "sim/chips/Mt2032.h"
#include "sim/chips/PllTuner.h"

namespace sim {
namespace {

constexpr uint32_t SynthesizerModel = 17;
constexpr uint32_t ModelCount = 36;
constexpr uint32_t FmSecondIfHz = 10700000;
constexpr uint32_t DefaultPictureIfHz = 38900000;

// Which boards carry the IF demodulator, by the model of their module.
constexpr bool HasIfDemodulator[ModelCount] = {
    false, false, false, false, false, false, false, false, false, false,  //  0 -  9
    true,  true,  true,  true,  true,  true,  true,  true,                 // 10 - 17
    false, false, false, false, false, false, false, false,                // 18 - 25
    true,  true,  true,                                                     // 26 - 28
    false, false,                                                           // 29 - 30
    true,  true,  true,  true,  true,                                       // 31 - 35
};

}  // namespace

bool ModelHasIfDemodulator(uint32_t model)
{
    return model < ModelCount && HasIfDemodulator[model];
}

BoardDescription ModuleBoard(uint32_t model, uint8_t address)
{
    BoardDescription description;
    BoardDevice module;
    module.Kind = model == SynthesizerModel ? BoardChip::Mt2032 : BoardChip::PllTuner;
    module.Address = address;
    module.Model = model;
    description.Devices.push_back(module);
    if (ModelHasIfDemodulator(model)) {
        BoardDevice demodulator;
        demodulator.Kind = BoardChip::IfDemodulator;
        demodulator.Address = IfDemodulator::Address;
        description.Devices.push_back(demodulator);
    }
    return description;
}

Board::Board(const BoardDescription& description) : bridge_(bus_)
{
    rf_.Stations = description.Stations;
    realPdo_ = CreateDevice([](DEVICE_OBJECT*, IRP*) -> NTSTATUS {
        ReportViolation("an IRP was sent to the board's physical device object, which takes none in the simulation");
        return STATUS_NOT_SUPPORTED;
    });
    for (const BoardDevice& device : description.Devices) AddDevice(device);
    if (pllTuner_ != nullptr && description.TunerStatus) pllTuner_->PinStatus(description.TunerStatus);
    if (demodulator_ != nullptr && description.DemodulatorStatus) demodulator_->PinStatus(description.DemodulatorStatus);

    if (pllTuner_ != nullptr && demodulator_ != nullptr) pllTuner_->AttachDemodulator(demodulator_);
    if (mt2032_ != nullptr) {
        // The stage behind the synthesizer listens at the IF the demodulator
        // is programmed for, or at the radio IF in FM mode.
        auto follow = [this](std::optional<bool> fm) {
            if (fm) fmMode_ = *fm;
            uint32_t pictureIf = demodulator_ != nullptr ? demodulator_->PictureIfHz() : 0;
            mt2032_->SetSecondIf(fmMode_ ? FmSecondIfHz : (pictureIf != 0 ? pictureIf : DefaultPictureIfHz), fmMode_);
        };
        if (demodulator_ != nullptr) {
            demodulator_->SetCodeTable(IfDemodulator::CodeTable::Mt2032);
            demodulator_->OnProgrammed([follow] { follow(std::nullopt); });
        }
        bridge_.AddNotificationListener([follow](const BridgeNotification& notification) {
            if (notification.Kind == I2C_NOTIFY_MODE) follow(notification.Value == KSPROPERTY_TUNER_MODE_FM_RADIO);
        });
    }
    for (const auto& [name, value] : description.Registry) SetRegistryString(realPdo_, name, value);
}

Board::~Board()
{
    for (const auto& [address, chip] : chips_) bus_.Detach(address);
    DeleteDevice(realPdo_);
}

void Board::AddDevice(const BoardDevice& device)
{
    std::shared_ptr<I2cDevice> chip;
    switch (device.Kind) {
    case BoardChip::PllTuner: {
        auto tuner = std::make_shared<PllTuner>(&rf_, device.Model);
        if (pllTuner_ == nullptr) pllTuner_ = tuner.get();
        chip = tuner;
        break;
    }
    case BoardChip::Mt2032: {
        auto synthesizer = std::make_shared<Mt2032>(&rf_);
        if (mt2032_ == nullptr) mt2032_ = synthesizer.get();
        chip = synthesizer;
        break;
    }
    case BoardChip::IfDemodulator: {
        auto demodulator = std::make_shared<IfDemodulator>(&rf_);
        if (demodulator_ == nullptr) demodulator_ = demodulator.get();
        chip = demodulator;
        break;
    }
    case BoardChip::Eeprom: {
        auto eeprom = std::make_shared<Eeprom>();
        eeprom->Load(device.Image);
        if (eeprom_ == nullptr) eeprom_ = eeprom.get();
        chip = eeprom;
        break;
    }
    case BoardChip::RegisterFile:
        chip = std::make_shared<RegisterFile>();
        break;
    }
    bus_.Attach(device.Address, chip.get());
    chips_.emplace_back(device.Address, std::move(chip));
}

AdapterConfig Board::AdapterConfiguration() const
{
    AdapterConfig config;
    config.PhysicalDeviceObject = bridge_.Device();
    config.RealPhysicalDeviceObject = realPdo_;
    return config;
}

std::unique_ptr<Adapter> Board::CreateAdapter(std::shared_ptr<LoadedDriver> driver) const
{
    return std::make_unique<Adapter>(std::move(driver), AdapterConfiguration());
}

}  // namespace sim
