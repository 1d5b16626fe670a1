// The scan: starts the adapter, selects the plan's standard (or FM radio)
// and looks for a station on every channel of the plan the way the
// platform's TV tuner client does with KS_TUNER_STRATEGY_PLL. Reports a
// "station" event for each station found and a "scan" event at the end.
#pragma once

#include "tools/tvtuner/ChannelPlans.h"
#include "tools/tvtuner/Session.h"

namespace tvtuner {

// plan: none to take the plan of the standard the board starts with.
void Scan(Session& session, EventSink& events, const ChannelPlan* plan);

}  // namespace tvtuner
