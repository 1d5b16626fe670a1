// Carries out the tuner property sets: mode, standard, frequency and input.
// Values are read from the record in the data buffer.
#include "platform/KernelStreaming.h"
#include "platform/StreamClass.h"
#include "properties/PropertyEntry.h"
#include "tuner/TunerDevice.h"

namespace {

// Below this frequency SECAM L is received as L' (band I).
constexpr uint32_t SecamL1UpperFrequency = 66000000;

bool IsSingleBit(uint32_t value)
{
    return value != 0 && (value & (value - 1)) == 0;
}

bool IsTunerMode(uint32_t mode)
{
    return mode == KSPROPERTY_TUNER_MODE_TV || mode == KSPROPERTY_TUNER_MODE_FM_RADIO;
}

// The standard a TV tune at this frequency needs instead of the current
// one, or 0 when the current one stays.
uint32_t SecamBandSwitch(uint32_t currentStandard, uint32_t frequency)
{
    if (currentStandard == KS_AnalogVideo_SECAM_L && frequency < SecamL1UpperFrequency) {
        return KS_AnalogVideo_SECAM_L1;
    }
    if (currentStandard == KS_AnalogVideo_SECAM_L1 && frequency >= SecamL1UpperFrequency) {
        return KS_AnalogVideo_SECAM_L;
    }
    return 0;
}

}  // namespace

bool TunerDevice::SelectInput(uint32_t inputIndex)
{
    // The modules have one RF input; the index is only recorded.
    (void)inputIndex;
    return true;
}

bool TunerDevice::SetTunerProperty(HW_STREAM_REQUEST_BLOCK* srb)
{
    TunerPropertyRequest request;
    if (!OpenTunerPropertyRequest(srb, &request)) {
        return false;
    }

    switch (request.Property->Id) {
    case KSPROPERTY_TUNER_MODE: {
        const uint32_t mode = static_cast<const KSPROPERTY_TUNER_MODE_S*>(request.Data)->Mode;
        // A mask of modes, or a mode the module lacks, would leave CurrentCaps
        // and CurrentMode disagreeing.
        if (!IsTunerMode(mode) || (mode & ModesSupported) == 0) {
            return false;
        }
        if (mode == CurrentMode) {
            return true;
        }
        if (SetTunerMode(mode)) {
            CurrentMode = mode;
        }
        RetuneNeeded = 1;
        return true;
    }

    case KSPROPERTY_TUNER_STANDARD: {
        const uint32_t standard = static_cast<const KSPROPERTY_TUNER_STANDARD_S*>(request.Data)->Standard;
        if (!IsSingleBit(standard) || (standard & CurrentCaps->StandardsSupported) == 0) {
            return false;
        }
        if (standard != CurrentStandard) {
            if (SetVideoStandard(standard)) {
                CurrentStandard = standard;
            }
            RetuneNeeded = 1;
        }
        Client->NotifyStandard(standard);
        return true;
    }

    case KSPROPERTY_TUNER_FREQUENCY: {
        const KSPROPERTY_TUNER_FREQUENCY_S* record = static_cast<const KSPROPERTY_TUNER_FREQUENCY_S*>(request.Data);
        const uint32_t frequency = record->Frequency;
        // The bridge learns the country even from a request refused below.
        CountryCode = record->Country;
        Client->NotifyCountry(record->Country);

        if (frequency < CurrentCaps->MinFrequency || frequency > CurrentCaps->MaxFrequency) {
            return false;
        }
        // The tuner already receives this frequency, unless a standard or
        // mode change since the last tune is still waiting for one.
        if (frequency == CurrentFrequency && !RetuneNeeded) {
            return true;
        }
        if (CurrentMode == KSPROPERTY_TUNER_MODE_TV) {
            const uint32_t bandStandard = SecamBandSwitch(CurrentStandard, frequency);
            if (bandStandard != 0) {
                SetVideoStandard(bandStandard);
                CurrentStandard = bandStandard;
                RetuneNeeded = 1;
            }
        }
        if (!TuneFrequency(frequency)) {
            return false;
        }
        CurrentFrequency = frequency;
        CurrentChannel = record->Channel;
        RetuneNeeded = 0;
        return true;
    }

    case KSPROPERTY_TUNER_INPUT: {
        const uint32_t inputIndex = static_cast<const KSPROPERTY_TUNER_INPUT_S*>(request.Data)->InputIndex;
        if (inputIndex >= CurrentCaps->NumberOfInputs) {
            return false;
        }
        if (inputIndex == CurrentInput) {
            return true;
        }
        if (!SelectInput(inputIndex)) {
            return false;
        }
        CurrentInput = inputIndex;
        return true;
    }

    default:
        // Caps, mode caps and status are read-only.
        return false;
    }
}
