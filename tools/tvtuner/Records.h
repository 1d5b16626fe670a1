// The records a property get returns, as JSON objects with the platform's
// field names, decoded only as far as the bytes the client received reach.
#pragma once

#include <optional>

#include "sim/stream/StreamClass.h"
#include "tools/tvtuner/Events.h"

namespace tvtuner {

// The tuner property a request carries (KSPROPERTY_TUNER_*), if it is one.
std::optional<uint32_t> TunerPropertyId(const sim::Request& request);

// None for anything but a tuner property get that returned data.
std::optional<Event> DecodeRecord(const sim::Request& request, const sim::Result& result);

}  // namespace tvtuner
