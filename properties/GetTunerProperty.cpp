// Answers the tuner property gets. Each answer is built in a cleared local
// record and copied out whole: fields the answer does not set come back 0,
// and reading the request's input is safe even where the class driver hands
// the same memory as input and data buffer.
#include "platform/KernelStreaming.h"
#include "platform/Status.h"
#include "platform/StreamClass.h"
#include "properties/PinMediums.h"
#include "properties/PropertyEntry.h"
#include "tuner/TunerDevice.h"

namespace {

// Every answer goes out as its whole record, so every get reports the
// record's size; the class driver returns that many bytes to the caller.
template <typename Record>
void Complete(HW_STREAM_REQUEST_BLOCK* srb, const TunerPropertyRequest& request, const Record& record)
{
    AnswerWith(request, record);
    srb->ActualBytesTransferred = sizeof(Record);
}

void CopyModeCaps(const ModeCaps& caps, KSPROPERTY_TUNER_MODE_CAPS_S* record)
{
    record->StandardsSupported = caps.StandardsSupported;
    record->MinFrequency = caps.MinFrequency;
    record->MaxFrequency = caps.MaxFrequency;
    record->TuningGranularity = caps.TuningGranularity;
    record->NumberOfInputs = caps.NumberOfInputs;
    record->SettlingTime = caps.SettlingTime;
    record->Strategy = caps.Strategy;
}

}  // namespace

bool TunerDevice::GetTunerProperty(HW_STREAM_REQUEST_BLOCK* srb)
{
    TunerPropertyRequest request;
    if (!OpenTunerPropertyRequest(srb, &request)) {
        return false;
    }

    switch (request.Property->Id) {
    case KSPROPERTY_TUNER_CAPS: {
        KSPROPERTY_TUNER_CAPS_S record = {};
        record.Property = *request.Property;
        record.ModesSupported = ModesSupported;
        KSPIN_MEDIUM* answerMediums[PinMediumRoleCount] = {
            &record.VideoMedium, &record.TVAudioMedium, &record.RadioAudioMedium};
        for (uint32_t role = 0; role < PinMediumRoleCount; ++role) {
            const int32_t pin = PinOfMediumRole(PinCount, static_cast<PinMediumRole>(role));
            // Without the medium array (no start has allocated it) every
            // medium is reported as the all-zero medium.
            if (pin >= 0 && Mediums != nullptr) {
                *answerMediums[role] = Mediums[pin];
            }
        }
        Complete(srb, request, record);
        return true;
    }

    case KSPROPERTY_TUNER_MODE_CAPS: {
        // The mode asked about is in the request's input, not in the data.
        const ULONG mode = reinterpret_cast<const KSPROPERTY_TUNER_MODE_CAPS_S*>(request.Property)->Mode;
        KSPROPERTY_TUNER_MODE_CAPS_S record = {};
        record.Property = *request.Property;
        if ((mode & ModesSupported) == 0) {
            AnswerWith(request, record);
            return false;
        }
        bool known = true;
        if (mode == KSPROPERTY_TUNER_MODE_TV) {
            CopyModeCaps(TvCaps, &record);
        } else if (mode == KSPROPERTY_TUNER_MODE_FM_RADIO) {
            CopyModeCaps(RadioCaps, &record);
        } else {
            known = false;
        }
        Complete(srb, request, record);
        return known;
    }

    case KSPROPERTY_TUNER_MODE: {
        KSPROPERTY_TUNER_MODE_S record = {};
        record.Mode = CurrentMode;
        Complete(srb, request, record);
        return true;
    }

    case KSPROPERTY_TUNER_STANDARD: {
        KSPROPERTY_TUNER_STANDARD_S record = {};
        record.Property = *request.Property;
        record.Standard = CurrentStandard;
        Complete(srb, request, record);
        return true;
    }

    case KSPROPERTY_TUNER_FREQUENCY: {
        KSPROPERTY_TUNER_FREQUENCY_S record = {};
        record.Frequency = CurrentFrequency;
        record.Channel = CurrentChannel;
        record.Country = CountryCode;
        Complete(srb, request, record);
        return true;
    }

    case KSPROPERTY_TUNER_INPUT: {
        KSPROPERTY_TUNER_INPUT_S record = {};
        record.InputIndex = CurrentInput;
        Complete(srb, request, record);
        return true;
    }

    case KSPROPERTY_TUNER_STATUS: {
        int32_t offset = 0;
        uint32_t busy = 0;
        if (!ReadTunerStatus(&offset, &busy)) {
            return false;
        }
        KSPROPERTY_TUNER_STATUS_S record = {};
        record.Busy = busy;
        // Offset and frequency mean something only once the PLL has locked.
        if (busy == 0) {
            record.PLLOffset = static_cast<ULONG>(offset);
            record.CurrentFrequency = CurrentFrequency;
        }
        Complete(srb, request, record);
        return true;
    }

    default:
        return false;
    }
}
