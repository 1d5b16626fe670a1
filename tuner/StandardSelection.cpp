// Video standard and tuner mode: the IF demodulator's bytes, the picture IF
// of the next tune, and the FM radio set-up of the modules that need one.

#include "platform/KernelStreaming.h"
#include "tuner/TunerDevice.h"

namespace {

constexpr uint32_t TvFirstIfKhz = 1090000;
constexpr uint32_t RadioFirstIfKhz = 1085000;

// Added to the first demodulator byte unless the board runs intercarrier.
constexpr uint8_t SplitSoundBit = 0x04;

enum DemodulatorUse : uint8_t {
    NoDemodulator,
    ByStandard,    // bytes from the standard table
    FixedBytes,    // the same bytes whatever the standard
};

struct ModelDemodulator {
    DemodulatorUse Use;
    uint8_t RadioSetUp;  // FM radio needs the set-up words and radio bytes
};

constexpr ModelDemodulator Demodulators[TunerModelCount] = {
    //  use            radio set-up
    {NoDemodulator, 0},  //  0
    {NoDemodulator, 0},  //  1
    {NoDemodulator, 0},  //  2
    {NoDemodulator, 0},  //  3
    {NoDemodulator, 0},  //  4
    {NoDemodulator, 0},  //  5
    {NoDemodulator, 0},  //  6
    {NoDemodulator, 0},  //  7
    {NoDemodulator, 0},  //  8
    {NoDemodulator, 0},  //  9
    {ByStandard,    0},  // 10
    {FixedBytes,    1},  // 11
    {ByStandard,    1},  // 12
    {ByStandard,    0},  // 13
    {ByStandard,    0},  // 14
    {ByStandard,    0},  // 15
    {ByStandard,    0},  // 16
    {ByStandard,    0},  // 17
    {NoDemodulator, 0},  // 18
    {NoDemodulator, 0},  // 19
    {NoDemodulator, 0},  // 20
    {NoDemodulator, 0},  // 21
    {NoDemodulator, 0},  // 22
    {NoDemodulator, 0},  // 23
    {NoDemodulator, 0},  // 24
    {NoDemodulator, 0},  // 25
    {ByStandard,    0},  // 26
    {ByStandard,    0},  // 27
    {ByStandard,    0},  // 28
    {NoDemodulator, 0},  // 29
    {NoDemodulator, 0},  // 30
    {ByStandard,    0},  // 31
    {ByStandard,    0},  // 32
    {ByStandard,    0},  // 33
    {ByStandard,    0},  // 34
    {ByStandard,    0},  // 35
};

constexpr uint8_t FixedDemodulatorBytes[3] = {0x15, 0x30, 0x44};
constexpr uint8_t RadioDemodulatorBytes[3] = {0x5A, 0x90, 0x20};

// The two words that switch the module to FM before the radio bytes go to
// the demodulator.
constexpr uint8_t RadioSetUpWords[2][4] = {
    {0x08, 0xFF, 0x8E, 0x01},
    {0x08, 0xFF, 0x8E, 0x19},
};

struct StandardSettings {
    uint32_t Standard;
    uint32_t IntermediateFrequency;  // 0: keep the current one
    uint8_t First;                   // without the split-sound bit
    uint8_t Second;
    uint8_t SecondSynthesizer;       // model 17
    uint8_t Third;
};

constexpr StandardSettings Standards[] = {
    //  standard                  IF (Hz)   first second synth third
    {KS_AnalogVideo_NTSC_M,    45750000, 0x12, 0x30, 0x20, 0x44},
    {KS_AnalogVideo_PAL_M,     45750000, 0x12, 0x30, 0x20, 0x44},
    {KS_AnalogVideo_PAL_N,     45750000, 0x12, 0x30, 0x20, 0x44},
    {KS_AnalogVideo_NTSC_M_J,  58750000, 0x12, 0x10, 0x00, 0x40},
    {KS_AnalogVideo_PAL_B,     38900000, 0x12, 0x70, 0x60, 0x49},
    {KS_AnalogVideo_PAL_G,     38900000, 0x12, 0x70, 0x60, 0x49},
    {KS_AnalogVideo_PAL_D,     38900000, 0x12, 0x70, 0x60, 0x4B},
    {KS_AnalogVideo_PAL_I,     38900000, 0x12, 0x70, 0x60, 0x4A},
    {KS_AnalogVideo_SECAM_D,   38900000, 0x12, 0x70, 0x60, 0x4B},
    {KS_AnalogVideo_SECAM_K,   38900000, 0x12, 0x70, 0x60, 0x4B},
    {KS_AnalogVideo_SECAM_B,   38900000, 0x12, 0x70, 0x70, 0x16},
    {KS_AnalogVideo_SECAM_G,   38900000, 0x12, 0x70, 0x70, 0x16},
    {KS_AnalogVideo_SECAM_H,   38900000, 0x12, 0x70, 0x70, 0x16},
    {KS_AnalogVideo_SECAM_K1,  38900000, 0x12, 0x70, 0x70, 0x16},
    {KS_AnalogVideo_SECAM_L,   38900000, 0x02, 0x50, 0x40, 0x4B},
    {KS_AnalogVideo_SECAM_L1,  33950000, 0x82, 0x50, 0x40, 0x53},
};
// Any other value, masks of several bits included.
constexpr StandardSettings OtherStandard = {0, 0, 0x12, 0x70, 0x70, 0x16};

const StandardSettings& SettingsFor(uint32_t standard)
{
    for (const StandardSettings& settings : Standards) {
        if (settings.Standard == standard) return settings;
    }
    return OtherStandard;
}

ModelDemodulator DemodulatorOf(uint32_t model)
{
    return model < TunerModelCount ? Demodulators[model] : ModelDemodulator{NoDemodulator, 0};
}

bool WriteTo(I2cClient* client, uint8_t address, uint8_t* bytes, uint16_t count)
{
    I2cTransfer transfer;
    transfer.DeviceAddress = address;
    transfer.Result = 0;
    transfer.WriteCount = count;
    transfer.ReadCount = 0;
    transfer.TransferFlags = 0;
    transfer.WriteBuffer = bytes;
    transfer.ReadBuffer = nullptr;
    transfer.OrMask = 0;
    transfer.AndMask = 0;
    return client->PerformTransfer(transfer) && transfer.Result == TransferDone;
}

}  // namespace

bool TunerDevice::SetVideoStandard(uint32_t standard)
{
    if (MapNtscToPalB && standard == KS_AnalogVideo_NTSC_M) standard = KS_AnalogVideo_PAL_B;
    const StandardSettings& settings = SettingsFor(standard);

    switch (DemodulatorOf(Model).Use) {
    case ByStandard: {
        uint8_t first = settings.First | (InterCarrierMode == 0 ? SplitSoundBit : 0);
        uint8_t second = Model == Mt2032Model ? settings.SecondSynthesizer : settings.Second;
        WriteDemodulator(IfDemodulatorAddress, first, second, settings.Third);
        break;
    }
    case FixedBytes:
        WriteDemodulator(IfDemodulatorAddress, FixedDemodulatorBytes[0], FixedDemodulatorBytes[1],
                         FixedDemodulatorBytes[2]);
        break;
    case NoDemodulator:
        break;
    }

    if (settings.IntermediateFrequency != 0) IntermediateFrequency = settings.IntermediateFrequency;
    AgcState = 0;
    StandardChanged = 1;
    return true;
}

bool TunerDevice::SetTunerMode(uint32_t mode)
{
    Client->NotifyMode(mode);

    if (mode == KSPROPERTY_TUNER_MODE_TV) {
        CurrentCaps = &TvCaps;
        Mt2032FirstIf = TvFirstIfKhz;
        return SetVideoStandard(CurrentStandard);
    }
    if (mode == KSPROPERTY_TUNER_MODE_FM_RADIO) {
        CurrentCaps = &RadioCaps;
        Mt2032FirstIf = RadioFirstIfKhz;
        if (DemodulatorOf(Model).RadioSetUp) {
            uint8_t first[4], second[4];
            __builtin_memcpy(first, RadioSetUpWords[0], sizeof(first));
            __builtin_memcpy(second, RadioSetUpWords[1], sizeof(second));
            WriteTo(Client, TunerAddress, first, sizeof(first));
            if (WriteTo(Client, TunerAddress, second, sizeof(second))) SetupRadioDemodulator();
        }
    }
    return true;
}

bool TunerDevice::WriteDemodulator(uint8_t address, uint8_t first, uint8_t second, uint8_t third)
{
    uint8_t bytes[4] = {0x00, first, second, third};
    return WriteTo(Client, address, bytes, sizeof(bytes));
}

bool TunerDevice::SetupRadioDemodulator()
{
    StopAgcCycle();
    WriteDemodulator(IfDemodulatorAddress, RadioDemodulatorBytes[0], RadioDemodulatorBytes[1],
                     RadioDemodulatorBytes[2]);
    return true;
}
