#include "tools/tvtuner/Records.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform/KernelStreaming.h"

namespace tvtuner {
namespace {

enum class Kind { Unsigned, Signed, Medium };

struct Field {
    const char* Name;
    size_t Offset;
    Kind Type = Kind::Unsigned;
};

#define TUNER_FIELD(record, name) Field{#name, offsetof(record, name)}

const std::vector<Field>& FieldsOf(uint32_t id)
{
    static const std::vector<Field> none;
    static const std::vector<Field> caps = {
        TUNER_FIELD(KSPROPERTY_TUNER_CAPS_S, ModesSupported),
        Field{"VideoMedium", offsetof(KSPROPERTY_TUNER_CAPS_S, VideoMedium), Kind::Medium},
        Field{"TVAudioMedium", offsetof(KSPROPERTY_TUNER_CAPS_S, TVAudioMedium), Kind::Medium},
        Field{"RadioAudioMedium", offsetof(KSPROPERTY_TUNER_CAPS_S, RadioAudioMedium), Kind::Medium},
    };
    static const std::vector<Field> modeCaps = {
        TUNER_FIELD(KSPROPERTY_TUNER_MODE_CAPS_S, Mode),
        TUNER_FIELD(KSPROPERTY_TUNER_MODE_CAPS_S, StandardsSupported),
        TUNER_FIELD(KSPROPERTY_TUNER_MODE_CAPS_S, MinFrequency),
        TUNER_FIELD(KSPROPERTY_TUNER_MODE_CAPS_S, MaxFrequency),
        TUNER_FIELD(KSPROPERTY_TUNER_MODE_CAPS_S, TuningGranularity),
        TUNER_FIELD(KSPROPERTY_TUNER_MODE_CAPS_S, NumberOfInputs),
        TUNER_FIELD(KSPROPERTY_TUNER_MODE_CAPS_S, SettlingTime),
        TUNER_FIELD(KSPROPERTY_TUNER_MODE_CAPS_S, Strategy),
    };
    static const std::vector<Field> mode = {TUNER_FIELD(KSPROPERTY_TUNER_MODE_S, Mode)};
    static const std::vector<Field> standard = {TUNER_FIELD(KSPROPERTY_TUNER_STANDARD_S, Standard)};
    static const std::vector<Field> frequency = {
        TUNER_FIELD(KSPROPERTY_TUNER_FREQUENCY_S, Frequency),
        TUNER_FIELD(KSPROPERTY_TUNER_FREQUENCY_S, LastFrequency),
        TUNER_FIELD(KSPROPERTY_TUNER_FREQUENCY_S, TuningFlags),
        TUNER_FIELD(KSPROPERTY_TUNER_FREQUENCY_S, VideoSubChannel),
        TUNER_FIELD(KSPROPERTY_TUNER_FREQUENCY_S, AudioSubChannel),
        TUNER_FIELD(KSPROPERTY_TUNER_FREQUENCY_S, Channel),
        TUNER_FIELD(KSPROPERTY_TUNER_FREQUENCY_S, Country),
    };
    static const std::vector<Field> input = {TUNER_FIELD(KSPROPERTY_TUNER_INPUT_S, InputIndex)};
    static const std::vector<Field> status = {
        TUNER_FIELD(KSPROPERTY_TUNER_STATUS_S, CurrentFrequency),
        Field{"PLLOffset", offsetof(KSPROPERTY_TUNER_STATUS_S, PLLOffset), Kind::Signed},
        TUNER_FIELD(KSPROPERTY_TUNER_STATUS_S, SignalStrength),
        TUNER_FIELD(KSPROPERTY_TUNER_STATUS_S, Busy),
    };
    switch (id) {
    case KSPROPERTY_TUNER_CAPS: return caps;
    case KSPROPERTY_TUNER_MODE_CAPS: return modeCaps;
    case KSPROPERTY_TUNER_MODE: return mode;
    case KSPROPERTY_TUNER_STANDARD: return standard;
    case KSPROPERTY_TUNER_FREQUENCY: return frequency;
    case KSPROPERTY_TUNER_INPUT: return input;
    case KSPROPERTY_TUNER_STATUS: return status;
    default: return none;
    }
}

#undef TUNER_FIELD

std::string GuidText(const GUID& guid)
{
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", guid.Data1, guid.Data2,
                  guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

}  // namespace

std::optional<uint32_t> TunerPropertyId(const sim::Request& request)
{
    if (!request.Property || request.Property->Property.size() < sizeof(KSPROPERTY)) return std::nullopt;
    KSPROPERTY header;
    std::memcpy(&header, request.Property->Property.data(), sizeof header);
    if (!IsEqualGuid(header.Set, PROPSETID_TUNER)) return std::nullopt;
    return header.Id;
}

std::optional<Event> DecodeRecord(const sim::Request& request, const sim::Result& result)
{
    std::optional<uint32_t> id = TunerPropertyId(request);
    if (!id || request.Command != SRB_GET_DEVICE_PROPERTY || result.Data.empty()) return std::nullopt;
    const std::vector<uint8_t>& data = result.Data;
    Event record = Event::object();
    for (const Field& field : FieldsOf(*id)) {
        if (field.Type == Kind::Medium) {
            if (field.Offset + sizeof(KSPIN_MEDIUM) > data.size()) continue;
            KSPIN_MEDIUM medium;
            std::memcpy(&medium, data.data() + field.Offset, sizeof medium);
            record[field.Name] = {{"Set", GuidText(medium.Set)}, {"Id", medium.Id}, {"Flags", medium.Flags}};
            continue;
        }
        if (field.Offset + sizeof(uint32_t) > data.size()) continue;
        uint32_t value;
        std::memcpy(&value, data.data() + field.Offset, sizeof value);
        if (field.Type == Kind::Signed) record[field.Name] = int32_t(value);
        else record[field.Name] = value;
    }
    return record;
}

}  // namespace tvtuner
