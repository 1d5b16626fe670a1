#include "tests/support/TunerBuilder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/KernelStreaming.h"
#include "sim/Kernel.h"
#include "sim/Registry.h"
#include "tuner/ModelNames.h"

namespace {

std::u16string Wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

}  // namespace

TunerBuilder::TunerBuilder(uint32_t model) : TunerBuilder(TunerOptions{model}) {}

TunerBuilder::TunerBuilder(const TunerOptions& options)
    : Pll(&Rf, options.Model), Synthesizer(&Rf), Demodulator(&Rf), tunerAddress_(options.Address)
{
    sim::I2cDevice* chip = options.TunerChip;
    if (options.Model == Mt2032Model) {
        Demodulator.SetCodeTable(sim::IfDemodulator::CodeTable::Mt2032);
        if (chip == nullptr) {
            chip = &Synthesizer;
            Demodulator.OnProgrammed([this] { FollowTheBoard(); });
            Bridge().AddNotificationListener([this](const sim::BridgeNotification& notification) {
                if (notification.Kind != I2C_NOTIFY_MODE) return;
                radio_ = notification.Value == KSPROPERTY_TUNER_MODE_FM_RADIO;
                FollowTheBoard();
            });
        }
    } else {
        Pll.AttachDemodulator(&Demodulator);
    }
    Bus().Attach(options.Address, chip != nullptr ? chip : &Pll);
    Bus().Attach(IfDemodulatorAddress, &Demodulator);
    // The class driver's device object, which the work items are queued for.
    workItemDevice_ = sim::CreateDevice([](DEVICE_OBJECT*, IRP*) { return STATUS_NOT_SUPPORTED; });

    // The configuration as an installation would leave it in the registry.
    DEVICE_OBJECT* pdo = Bridge().Device();
    char address[8];
    std::snprintf(address, sizeof address, "0x%02X", options.Address);
    sim::SetRegistryString(pdo, u"TunerType", TunerModelNames[options.Model]);
    sim::SetRegistryString(pdo, u"Address", Wide(address));
    sim::SetRegistryString(pdo, u"InterCarrierMode", Wide(std::to_string(options.InterCarrierMode)));
    if (options.DefaultStandard) {
        sim::SetRegistryString(pdo, u"DefaultStandard", Wide(std::to_string(*options.DefaultStandard)));
    }

    // Built in a zero-filled block on the bus that the device start opened.
    block_ = std::calloc(1, sizeof(TunerDevice));
    uint32_t code = ConstructionNoMemory;
    Client()->OpenBusWithRetry();
    tuner_ = new (block_, sizeof(TunerDevice)) TunerDevice(pdo, Client(), &code);
    Client()->CloseBus();
    if (code != ConstructionOk) ADD_FAILURE() << "tuner construction for model " << options.Model << " gave code " << code;
    tuner_->WorkItemDevice = workItemDevice_;
}

TunerBuilder::~TunerBuilder()
{
    tuner_->DestroyAgcTimer();
    if (tuner_->Mediums != nullptr) ExFreePool(tuner_->Mediums);
    if (tuner_->PinDirections != nullptr) ExFreePool(tuner_->PinDirections);
    sim::DeleteRegistryKeys(Bridge().Device());
    Bus().Detach(IfDemodulatorAddress);
    Bus().Detach(tunerAddress_);
    sim::DeleteDevice(workItemDevice_);
    std::free(block_);
}

void TunerBuilder::FollowTheBoard()
{
    constexpr uint32_t RadioIfHz = 10700000;
    constexpr uint32_t DefaultPictureIfHz = 38900000;
    uint32_t pictureIf = Demodulator.PictureIfHz();
    Synthesizer.SetSecondIf(radio_ ? RadioIfHz : (pictureIf != 0 ? pictureIf : DefaultPictureIfHz), radio_);
}

std::vector<std::vector<uint8_t>> TunerBuilder::WritesTo(uint8_t address) const
{
    std::vector<std::vector<uint8_t>> writes;
    for (const sim::BusSegment& segment : bench_.Bus.Trace()) {
        if (segment.Address == (address & 0xFE) && !segment.Read) writes.push_back(segment.Data);
    }
    return writes;
}

void TunerBuilder::ClearRecords()
{
    Bus().ClearTrace();
    Pll.ClearWrites();
    Demodulator.ClearWrites();
}
