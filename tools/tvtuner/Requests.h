// Script lines carried out on a session: each becomes one SRB (or a wait).
#pragma once

#include <vector>

#include "tools/tvtuner/Script.h"
#include "tools/tvtuner/Session.h"

namespace tvtuner {

void Execute(Session& session, const Command& command);
void ExecuteAll(Session& session, const std::vector<Command>& commands);

}  // namespace tvtuner
