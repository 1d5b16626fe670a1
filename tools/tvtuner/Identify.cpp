#include "tools/tvtuner/Identify.h"

#include <algorithm>
#include <map>

#include "platform/KernelStreaming.h"
#include "platform/Status.h"
#include "sim/Registry.h"
#include "sim/stream/Requests.h"
#include "tools/tvtuner/Records.h"
#include "tools/tvtuner/Values.h"
#include "tuner/TunerDevice.h"

namespace tvtuner {
namespace {

constexpr uint8_t MarkerOffset = 0x59;
constexpr uint8_t CodeOffset = 0x5E;

bool Queried(const char16_t* name)
{
    std::vector<std::u16string> queries = sim::RegistryQueries();
    return std::find(queries.begin(), queries.end(), std::u16string(name)) != queries.end();
}

// The bytes the driver read from the EEPROM: each read is the offset written,
// then one byte read back.
std::map<uint8_t, uint8_t> EepromReads(const std::vector<sim::BusSegment>& segments, uint8_t address)
{
    std::map<uint8_t, uint8_t> bytes;
    for (size_t i = 0; i + 1 < segments.size(); ++i) {
        const sim::BusSegment& offset = segments[i];
        const sim::BusSegment& value = segments[i + 1];
        if (offset.Address != address || offset.Read || offset.Data.size() != 1) continue;
        if (value.Address != address || !value.Read || value.Data.size() != 1 || !value.AddressAcked) continue;
        bytes[offset.Data[0]] = value.Data[0];
    }
    return bytes;
}

std::optional<Event> Record(Session& session, const sim::Request& request, const std::string& name, const Event& args)
{
    sim::Result result = session.Send(request, name, args);
    if (result.Status != STATUS_SUCCESS) return std::nullopt;
    return DecodeRecord(request, result);
}

}  // namespace

void Identify(Session& session, EventSink& events)
{
    if (!session.Start()) return;
    const TunerDevice* tuner = session.Tuner();
    Event event{{"event", "identify"},
                {"model", tuner->Model},
                {"name", ModelName(tuner->Model)},
                {"address", tuner->TunerAddress}};
    if (Queried(u"TunerType")) {
        event["source"] = "registry";
    } else {
        event["source"] = "eeprom";
        Event eeprom = Event::object();
        std::optional<std::string> text = session.Setup().RegistryValue("EEPROMAddr");
        if (std::optional<uint32_t> address = text ? ParseUnsigned(*text) : std::nullopt) {
            uint8_t eepromAddress = uint8_t(*address & 0xFE);
            eeprom["address"] = eepromAddress;
            std::map<uint8_t, uint8_t> bytes = EepromReads(session.Segments(), eepromAddress);
            if (bytes.count(MarkerOffset) && bytes.count(CodeOffset)) {
                eeprom["marker"] = bytes[MarkerOffset];
                eeprom["code"] = bytes[CodeOffset];
            }
            Event read = Event::object();
            for (const auto& [offset, value] : bytes) read[Hex(offset)] = value;
            eeprom["bytes"] = read;
        }
        event["eeprom"] = eeprom;
    }

    namespace rq = sim::requests;
    std::optional<Event> caps = Record(session, rq::GetCaps(), "get caps", Event::object());
    if (caps) event["caps"] = *caps;
    Event modeCaps = Event::object();
    uint32_t modes = caps && caps->contains("ModesSupported") ? (*caps)["ModesSupported"].get<uint32_t>()
                                                              : uint32_t(KSPROPERTY_TUNER_MODE_TV);
    for (uint32_t mode : {KSPROPERTY_TUNER_MODE_TV, KSPROPERTY_TUNER_MODE_FM_RADIO}) {
        if ((modes & mode) == 0) continue;
        if (std::optional<Event> record = Record(session, rq::GetModeCaps(mode), "get modecaps", {{"mode", mode}}))
            modeCaps[ModeName(mode)] = *record;
    }
    event["modecaps"] = modeCaps;
    events.Emit(event);
}

}  // namespace tvtuner
