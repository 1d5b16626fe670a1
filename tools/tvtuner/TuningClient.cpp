#include "tools/tvtuner/TuningClient.h"

#include "platform/Status.h"
#include "sim/stream/Requests.h"

namespace tvtuner {

constexpr uint32_t StatusIntervalMs = 5;
constexpr uint32_t MaxStatusReads = 5;

std::optional<KSPROPERTY_TUNER_MODE_CAPS_S> GetModeCaps(Session& session, uint32_t mode)
{
    sim::Result result = session.Send(sim::requests::GetModeCaps(mode), "get modecaps", {{"mode", mode}});
    if (result.Status != STATUS_SUCCESS) return std::nullopt;
    return result.As<KSPROPERTY_TUNER_MODE_CAPS_S>();
}

std::optional<uint32_t> GetStandard(Session& session)
{
    sim::Result result = session.Send(sim::requests::GetStandard(), "get standard");
    std::optional<KSPROPERTY_TUNER_STANDARD_S> record = result.As<KSPROPERTY_TUNER_STANDARD_S>();
    if (result.Status != STATUS_SUCCESS || !record) return std::nullopt;
    return record->Standard;
}

bool SetFrequency(Session& session, uint32_t hz, uint32_t channel)
{
    sim::Result result = session.Send(sim::requests::SetFrequency(hz, channel), "set frequency",
                                      {{"frequency", hz}, {"channel", channel}, {"country", 0}});
    return result.Status == STATUS_SUCCESS;
}

LockResult AwaitLock(Session& session, uint32_t settlingMs)
{
    LockResult lock;
    session.Wait(settlingMs);
    while (lock.Reads < MaxStatusReads) {
        if (lock.Reads != 0) session.Wait(StatusIntervalMs);
        ++lock.Reads;
        sim::Result result = session.Send(sim::requests::GetStatus(), "get status");
        std::optional<KSPROPERTY_TUNER_STATUS_S> status = result.As<KSPROPERTY_TUNER_STATUS_S>();
        if (result.Status != STATUS_SUCCESS || !status) return lock;
        lock.Answered = true;
        if (status->Busy == 0) {
            lock.Locked = true;
            lock.Offset = int32_t(status->PLLOffset);
            return lock;
        }
    }
    return lock;
}

}  // namespace tvtuner
