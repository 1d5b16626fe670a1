#include "tools/tvtuner/Scan.h"

#include <cctype>

#include "platform/Status.h"
#include "sim/stream/Requests.h"
#include "tools/tvtuner/Progress.h"
#include "tools/tvtuner/TuningClient.h"

namespace tvtuner {
namespace {

// "E5" is channel 5, "21" channel 21; FM stations have no channel number.
uint32_t ChannelNumber(const std::string& name)
{
    uint32_t number = 0;
    for (char c : name) {
        if (c == '.') return 0;
        if (std::isdigit(static_cast<unsigned char>(c))) number = number * 10 + uint32_t(c - '0');
    }
    return number;
}

struct Found {
    uint32_t FrequencyHz;
    int32_t Offset;
};

// A first offset of +1 means the carrier lies a step higher: one more try
// there. 0 or -1 is a station; anything else, or no lock, is none.
std::optional<Found> Probe(Session& session, const Channel& channel, const KSPROPERTY_TUNER_MODE_CAPS_S& caps)
{
    uint32_t hz = channel.FrequencyHz;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!SetFrequency(session, hz, ChannelNumber(channel.Name))) return std::nullopt;
        LockResult lock = AwaitLock(session, caps.SettlingTime);
        if (!lock.Locked) return std::nullopt;
        if (lock.Offset == 0 || lock.Offset == -1) return Found{hz, lock.Offset};
        if (lock.Offset != 1 || attempt != 0 || hz + caps.TuningGranularity > caps.MaxFrequency) return std::nullopt;
        hz += caps.TuningGranularity;
    }
    return std::nullopt;
}

bool SelectPlan(Session& session, const ChannelPlan& plan)
{
    namespace rq = sim::requests;
    if (plan.Fm) {
        uint32_t mode = KSPROPERTY_TUNER_MODE_FM_RADIO;
        return session.Send(rq::SetMode(mode), "set mode", {{"mode", mode}}).Status == STATUS_SUCCESS;
    }
    return session.Send(rq::SetStandard(plan.Standard), "set standard", {{"standard", plan.Standard}}).Status ==
           STATUS_SUCCESS;
}

}  // namespace

void Scan(Session& session, EventSink& events, const ChannelPlan* plan)
{
    session.AggregateStats(true);
    if (!session.Start()) return;
    if (plan == nullptr) {
        std::optional<uint32_t> standard = GetStandard(session);
        if (!standard) return;
        plan = &ChannelPlanForStandard(*standard);
    }
    if (!SelectPlan(session, *plan)) return;
    uint32_t mode = plan->Fm ? KSPROPERTY_TUNER_MODE_FM_RADIO : KSPROPERTY_TUNER_MODE_TV;
    std::optional<KSPROPERTY_TUNER_MODE_CAPS_S> caps = GetModeCaps(session, mode);
    if (!caps) return;

    std::vector<const Channel*> channels;
    for (const Channel& channel : plan->Channels) {
        if (channel.FrequencyHz >= caps->MinFrequency && channel.FrequencyHz <= caps->MaxFrequency)
            channels.push_back(&channel);
    }
    ProgressBar progress;
    uint32_t stations = 0;
    for (size_t i = 0; i < channels.size(); ++i) {
        const Channel& channel = *channels[i];
        progress.Update(i, channels.size(), channel.Name);
        std::optional<Found> found = Probe(session, channel, *caps);
        if (!found) continue;
        uint32_t standard = 0;
        if (!plan->Fm) standard = GetStandard(session).value_or(0);
        ++stations;
        events.Emit(Event{{"event", "station"},
                          {"channel", channel.Name},
                          {"frequency", found->FrequencyHz},
                          {"offset", found->Offset},
                          {"standard", standard}});
    }
    progress.Finish();
    events.Emit(Event{{"event", "scan"},
                      {"plan", plan->Name},
                      {"channels", uint32_t(channels.size())},
                      {"stations", stations}});
}

}  // namespace tvtuner
