// tune: starts the adapter, selects the mode and standard asked for, tunes
// one frequency as a streaming client does and reports a "tune" event.
#pragma once

#include <cstdint>
#include <optional>

#include "tools/tvtuner/Session.h"

namespace tvtuner {

void Tune(Session& session, EventSink& events, uint32_t hz, std::optional<uint32_t> mode,
          std::optional<uint32_t> standard);

}  // namespace tvtuner
