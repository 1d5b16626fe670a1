// identify: starts the adapter and reports the model the driver found, where
// it came from (the registry, or the EEPROM with the bytes the driver read
// there), and the caps and mode caps it answers with, as an "identify" event.
#pragma once

#include "tools/tvtuner/Session.h"

namespace tvtuner {

void Identify(Session& session, EventSink& events);

}  // namespace tvtuner
