#include "tests/support/TunerBuilder.h"

#include <cstdlib>
#include <new>

#include "platform/KernelStreaming.h"
#include "sim/Kernel.h"

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

    block_ = std::calloc(1, sizeof(TunerDevice));
    tuner_ = ::new (block_) TunerDevice(TunerDevice::BareObject::Tag);
    TunerDevice& tuner = *tuner_;
    tuner.PowerState = PowerDeviceD0;
    tuner.TunerAddress = options.Address;
    tuner.InterCarrierMode = options.InterCarrierMode;
    tuner.Model = options.Model;
    tuner.Client = Client();
    tuner.WorkItemDevice = workItemDevice_;

    // Construction runs on the bus that the device start opened.
    Client()->OpenBusWithRetry();
    tuner.ConfigureModel(options.Model);
    Client()->SetAddress(options.Address);
    uint32_t standard = tuner.TvCaps.StandardsSupported;
    if (tuner.StandardCount != 1) {
        uint32_t lowest = standard & (~standard + 1);
        tuner.DefaultStandard = options.DefaultStandard.value_or(lowest) & 0xFF;
        standard = tuner.DefaultStandard;
    }
    tuner.CurrentStandard = standard;
    tuner.SetVideoStandard(standard);
    Client()->CloseBus();
}

TunerBuilder::~TunerBuilder()
{
    tuner_->DestroyAgcTimer();
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
