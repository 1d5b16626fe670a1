#include "tools/tvtuner/Tune.h"

#include "platform/KernelStreaming.h"
#include "platform/Status.h"
#include "sim/stream/Requests.h"
#include "tools/tvtuner/TuningClient.h"

namespace tvtuner {

void Tune(Session& session, EventSink& events, uint32_t hz, std::optional<uint32_t> mode,
          std::optional<uint32_t> standard)
{
    namespace rq = sim::requests;
    if (!session.Start()) return;
    if (mode && session.Send(rq::SetMode(*mode), "set mode", {{"mode", *mode}}).Status != STATUS_SUCCESS) return;
    if (standard &&
        session.Send(rq::SetStandard(*standard), "set standard", {{"standard", *standard}}).Status != STATUS_SUCCESS)
        return;
    uint32_t current = mode.value_or(KSPROPERTY_TUNER_MODE_TV);
    std::optional<KSPROPERTY_TUNER_MODE_CAPS_S> caps = GetModeCaps(session, current);
    if (!caps || !SetFrequency(session, hz, 0)) return;
    LockResult lock = AwaitLock(session, caps->SettlingTime);

    Event event{{"event", "tune"}, {"frequency", hz}, {"mode", current}};
    event["standard"] = current == KSPROPERTY_TUNER_MODE_TV ? GetStandard(session).value_or(0) : 0;
    if (lock.Answered) {
        event["locked"] = lock.Locked;
        if (lock.Locked) event["offset"] = lock.Offset;
        event["reads"] = lock.Reads;
    }
    events.Emit(event);
}

}  // namespace tvtuner
