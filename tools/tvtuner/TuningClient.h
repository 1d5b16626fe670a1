// How a streaming client tunes a tuner whose strategy is
// KS_TUNER_STRATEGY_PLL: set the frequency, wait the settling time, then
// read the status every 5 ms while it reports busy, at most five times.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/KernelStreaming.h"
#include "tools/tvtuner/Session.h"

namespace tvtuner {

struct LockResult {
    bool Answered = false;  // a status request succeeded
    bool Locked = false;
    int32_t Offset = 0;     // PLLOffset, when locked
    uint32_t Reads = 0;
};

std::optional<KSPROPERTY_TUNER_MODE_CAPS_S> GetModeCaps(Session& session, uint32_t mode);
std::optional<uint32_t> GetStandard(Session& session);
bool SetFrequency(Session& session, uint32_t hz, uint32_t channel);
LockResult AwaitLock(Session& session, uint32_t settlingMs);

}  // namespace tvtuner
