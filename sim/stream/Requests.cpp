#include "sim/stream/Requests.h"

#include <cstring>
#include <string>

namespace sim::requests {
namespace {

template <typename Record>
std::vector<uint8_t> Bytes(const Record& record)
{
    std::vector<uint8_t> bytes(sizeof(Record));
    std::memcpy(bytes.data(), &record, sizeof(Record));
    return bytes;
}

template <typename Record>
Request Tuner(bool set, ULONG id, const Record& record, const char* name)
{
    Request request = Property(set, PROPSETID_TUNER, id, Bytes(record));
    request.Name = name;
    return request;
}

const char* PropertyName(ULONG id)
{
    switch (id) {
    case KSPROPERTY_TUNER_CAPS: return "caps";
    case KSPROPERTY_TUNER_MODE_CAPS: return "modecaps";
    case KSPROPERTY_TUNER_MODE: return "mode";
    case KSPROPERTY_TUNER_STANDARD: return "standard";
    case KSPROPERTY_TUNER_FREQUENCY: return "frequency";
    case KSPROPERTY_TUNER_INPUT: return "input";
    case KSPROPERTY_TUNER_STATUS: return "status";
    default: return nullptr;
    }
}

}  // namespace

Request Property(bool set, const GUID& propertySet, ULONG id, std::vector<uint8_t> record)
{
    if (record.size() < sizeof(KSPROPERTY)) record.resize(sizeof(KSPROPERTY));
    KSPROPERTY header{};
    header.Set = propertySet;
    header.Id = id;
    header.Flags = set ? KSPROPERTY_TYPE_SET : KSPROPERTY_TYPE_GET;
    std::memcpy(record.data(), &header, sizeof(header));

    Request request;
    request.Command = set ? SRB_SET_DEVICE_PROPERTY : SRB_GET_DEVICE_PROPERTY;
    const char* name = IsEqualGuid(propertySet, PROPSETID_TUNER) ? PropertyName(id) : nullptr;
    request.Name = std::string(set ? "set " : "get ") + (name ? name : "property " + std::to_string(id));
    // A set carries the client's record; a get finds whatever the buffer held.
    std::vector<uint8_t> data = set ? record : std::vector<uint8_t>(record.size(), StaleDataByte);
    request.Property = PropertyPayload{set, std::move(record), std::move(data)};
    return request;
}

Request GetCaps() { return Tuner(false, KSPROPERTY_TUNER_CAPS, KSPROPERTY_TUNER_CAPS_S{}, "get caps"); }

Request GetModeCaps(ULONG mode)
{
    KSPROPERTY_TUNER_MODE_CAPS_S record{};
    record.Mode = mode;
    return Tuner(false, KSPROPERTY_TUNER_MODE_CAPS, record, "get modecaps");
}

Request GetMode() { return Tuner(false, KSPROPERTY_TUNER_MODE, KSPROPERTY_TUNER_MODE_S{}, "get mode"); }

Request SetMode(ULONG mode)
{
    KSPROPERTY_TUNER_MODE_S record{};
    record.Mode = mode;
    return Tuner(true, KSPROPERTY_TUNER_MODE, record, "set mode");
}

Request GetStandard()
{
    return Tuner(false, KSPROPERTY_TUNER_STANDARD, KSPROPERTY_TUNER_STANDARD_S{}, "get standard");
}

Request SetStandard(ULONG standard)
{
    KSPROPERTY_TUNER_STANDARD_S record{};
    record.Standard = standard;
    return Tuner(true, KSPROPERTY_TUNER_STANDARD, record, "set standard");
}

Request GetFrequency()
{
    return Tuner(false, KSPROPERTY_TUNER_FREQUENCY, KSPROPERTY_TUNER_FREQUENCY_S{}, "get frequency");
}

Request SetFrequency(ULONG frequency, ULONG channel, ULONG country)
{
    KSPROPERTY_TUNER_FREQUENCY_S record{};
    record.Frequency = frequency;
    record.TuningFlags = KS_TUNER_TUNING_EXACT;
    record.Channel = channel;
    record.Country = country;
    return Tuner(true, KSPROPERTY_TUNER_FREQUENCY, record, "set frequency");
}

Request GetInput() { return Tuner(false, KSPROPERTY_TUNER_INPUT, KSPROPERTY_TUNER_INPUT_S{}, "get input"); }

Request SetInput(ULONG inputIndex)
{
    KSPROPERTY_TUNER_INPUT_S record{};
    record.InputIndex = inputIndex;
    return Tuner(true, KSPROPERTY_TUNER_INPUT, record, "set input");
}

Request GetStatus() { return Tuner(false, KSPROPERTY_TUNER_STATUS, KSPROPERTY_TUNER_STATUS_S{}, "get status"); }

Request Power(DEVICE_POWER_STATE state, UCHAR minorFunction)
{
    Request request;
    request.Command = SRB_CHANGE_POWER_STATE;
    request.Name = "power D" + std::to_string(int(state) - 1);
    request.CommandData = ULONG(state);
    request.Irp = IrpPayload{IRP_MJ_POWER, minorFunction, DevicePowerState, ULONG(state)};
    return request;
}

Request Unknown(UCHAR majorFunction, UCHAR minorFunction, ULONG commandData)
{
    Request request;
    request.Command = SRB_UNKNOWN_DEVICE_COMMAND;
    request.Name = "unknown command";
    request.CommandData = commandData;
    request.Irp = IrpPayload{majorFunction, minorFunction, DevicePowerState, commandData};
    return request;
}

Request Raw(SRB_COMMAND command)
{
    Request request;
    request.Command = command;
    request.Name = "srb " + std::to_string(int(command));
    return request;
}

}  // namespace sim::requests
