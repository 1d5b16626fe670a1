// The double-conversion synthesizer (model 17): start-up register image,
// both local oscillators for a wanted frequency, the step away from mixing
// products that would fall into the second IF, and the VCO band of LO1.
// All frequencies here are kHz; the tuning arithmetic is unsigned 32-bit
// and the spur test signed 32-bit, so no 64-bit helper is ever needed.

#include "platform/KernelStreaming.h"
#include "tuner/TunerDevice.h"

namespace {

constexpr uint32_t ReferenceKhz = 5250;
constexpr uint32_t TvFirstIfKhz = 1090000;
// An FM station comes out of the second mixer at the radio IF, not at the
// picture IF of the last video standard.
constexpr uint32_t RadioSecondIfKhz = 10700;

// LO2's fractional divider counts in 1/3780 of the reference. With a 5250 kHz
// reference, 45 units are 62.5 kHz and 36 units are 50 kHz.
constexpr uint32_t FractionUnits = 3780;
constexpr uint32_t TvGranularityHz = 62500;
constexpr uint32_t TvFractionStep = 45;
constexpr uint32_t OtherFractionStep = 36;

// Spur avoidance moves N1 by 1, 2 and 3 at most.
constexpr uint32_t MaxDividerAdjustments = 3;

// Mixing products k x LO1 - n x LO2 that land this close to the second IF
// disturb the picture (TV) or the radio channel (any other mode).
constexpr int32_t TvSpurWindowKhz = 3000;
constexpr int32_t OtherSpurWindowKhz = 100;
constexpr int32_t HighestHarmonic = 5;

// The synthesizer's band switch from 400 MHz up.
constexpr uint32_t HighRangeStartKhz = 400000;

struct VcoThreshold {
    uint32_t UpperKhz;
    uint32_t LowerKhz;
};

// LO1 thresholds per VCO band, checked from band 0 downwards.
constexpr VcoThreshold VcoThresholds[] = {
    //  upper      lower
    {1890000, 1790000},  // band 0
    {1720000, 1617000},  // band 1
    {1530000, 1454000},  // band 2
    {1370000, 1291000},  // band 3
};
constexpr uint8_t VcoBandCount = sizeof(VcoThresholds) / sizeof(VcoThresholds[0]);

// Registers 0 to 20 after the subaddress 0x00.
constexpr uint8_t StartupImage[] = {
    0x00,                          // subaddress
    0x00, 0x00,                    // 0, 1: LO1 divider
    0xFF, 0x0F, 0x1F,              // 2, 3, 4
    0x00,                          // 5: LO2 divider
    0xE4, 0x8C, 0xC3, 0x4E, 0xEC,  // 6 to 10
    0x00, 0x00,                    // 11, 12: LO2 fraction
    0x32,                          // 13
    0x00, 0x00, 0x00, 0x00,        // 14 to 17
    0x00, 0x00, 0x00,              // 18 to 20
};
static_assert(sizeof(StartupImage) == 22, "subaddress and registers 0 to 20");

constexpr uint8_t Lo1Subaddress = 0x00;
constexpr uint8_t Lo2Subaddress = 0x05;
constexpr uint8_t FractionSubaddress = 0x0B;
constexpr uint8_t Register2Value = 0x86;
constexpr uint8_t Register6Low = 0xE4;
constexpr uint8_t Register6High = 0xF4;
constexpr uint8_t Register7Value = 0x0F;
constexpr uint8_t Register12Fixed = 0x80;

uint32_t SecondIfKhz(const TunerDevice& tuner)
{
    if (tuner.CurrentMode == KSPROPERTY_TUNER_MODE_FM_RADIO) return RadioSecondIfKhz;
    return tuner.IntermediateFrequency / 1000;
}

bool WriteToTuner(const TunerDevice& tuner, uint8_t* bytes, uint16_t count)
{
    I2cTransfer transfer;
    __builtin_memset(&transfer, 0, sizeof(transfer));
    transfer.DeviceAddress = tuner.TunerAddress;
    transfer.WriteCount = count;
    transfer.WriteBuffer = bytes;
    return tuner.Client->PerformTransfer(transfer) && transfer.Result == TransferDone;
}

int32_t Magnitude(int32_t value) { return value < 0 ? -value : value; }

}  // namespace

bool TunerDevice::Mt2032Initialize()
{
    Mt2032Reference = ReferenceKhz;
    Mt2032FirstIf = TvFirstIfKhz;

    uint8_t image[sizeof(StartupImage)];
    __builtin_memcpy(image, StartupImage, sizeof(image));
    return WriteToTuner(*this, image, sizeof(image));
}

bool TunerDevice::Mt2032Tune(uint32_t frequency)
{
    const uint32_t wantedKhz = frequency / 1000;
    const uint32_t reference = Mt2032Reference;
    if (reference == 0) return false;  // the start-up never ran
    const uint32_t secondIf = SecondIfKhz(*this);

    Lo1Desired = Mt2032FirstIf + wantedKhz;
    Lo1Divider = (Lo1Desired + reference / 2) / reference;
    Lo1Actual = Lo1Divider * reference;
    Lo2Frequency = Lo1Actual - secondIf - wantedKhz;

    // N1 starts nearest to the wanted LO1, so each step towards it crosses
    // it and the run visits N, N+1, N-1, N+2 (or the mirror image). The
    // third step is taken without testing the result.
    for (uint32_t step = 1; step <= MaxDividerAdjustments && CheckSpurs(); ++step) {
        if (Lo1Desired > Lo1Actual)
            Lo1Divider += step;
        else
            Lo1Divider -= step;
        Lo1Actual = Lo1Divider * reference;
        Lo2Frequency = Lo1Actual - secondIf - wantedKhz;
    }

    const uint8_t vcoBand = SelectVco(Lo1Actual, 0);

    Lo2Integer = Lo2Frequency / reference;
    Lo2Fraction = (Lo2Frequency % reference) * FractionUnits / reference;
    // Rounded to the tuning step; a result of 3780 is written as it is,
    // without a carry into the integer part.
    if (CurrentCaps != nullptr && CurrentCaps->TuningGranularity == TvGranularityHz)
        Lo2Fraction = (Lo2Fraction + TvFractionStep / 2) / TvFractionStep * TvFractionStep;
    else
        Lo2Fraction = (Lo2Fraction + OtherFractionStep / 2) / OtherFractionStep * OtherFractionStep;

    const uint32_t n1 = Lo1Divider;
    const uint32_t n2 = Lo2Integer;
    uint8_t lo1[] = {
        Lo1Subaddress,
        uint8_t((n1 >> 3) - 1),
        uint8_t((vcoBand << 4) | (n1 & 7)),
        Register2Value,
    };
    uint8_t lo2[] = {
        Lo2Subaddress,
        uint8_t(uint8_t((n2 >> 3) - 1) | uint8_t((n2 & 7) << 5)),
        wantedKhz < HighRangeStartKhz ? Register6Low : Register6High,
        Register7Value,
    };
    uint8_t fraction[] = {
        FractionSubaddress,
        uint8_t(Lo2Fraction & 0xFF),
        uint8_t(Register12Fixed | ((Lo2Fraction >> 8) & 0x0F)),
    };

    if (!WriteToTuner(*this, lo1, sizeof(lo1))) return false;
    if (!WriteToTuner(*this, lo2, sizeof(lo2))) return false;
    return WriteToTuner(*this, fraction, sizeof(fraction));
}

uint32_t TunerDevice::CheckSpurs() const
{
    const int32_t lo1 = int32_t(Lo1Actual);
    const int32_t lo2 = int32_t(Lo2Frequency);
    const int32_t secondIf = int32_t(SecondIfKhz(*this));
    const int32_t window =
        CurrentMode == KSPROPERTY_TUNER_MODE_TV ? TvSpurWindowKhz : OtherSpurWindowKhz;

    for (int32_t k = 1; k < HighestHarmonic; ++k) {
        for (int32_t n = k + 1; n <= HighestHarmonic; ++n) {
            const int32_t product = k * lo1 - n * lo2;
            if (Magnitude(Magnitude(product) - secondIf) < window) return 1;
            // Higher n only drives the product further below zero.
            if (product <= -n - window - lo2) break;
        }
    }
    return 0;
}

uint8_t TunerDevice::SelectVco(uint32_t lo1, uint32_t upperThresholds) const
{
    for (uint8_t band = 0; band < VcoBandCount; ++band) {
        const uint32_t threshold =
            upperThresholds ? VcoThresholds[band].UpperKhz : VcoThresholds[band].LowerKhz;
        if (lo1 > threshold) return band;
    }
    return VcoBandCount;
}
