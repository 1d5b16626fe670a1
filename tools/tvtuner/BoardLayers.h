// The board a command line describes: the built-in board when no board file
// is given, then every board option in the order given.
#pragma once

#include <vector>

#include "tools/tvtuner/BoardSetup.h"
#include "tools/tvtuner/Options.h"

namespace tvtuner {

BoardSetup BuildBoard(const std::vector<BoardLayer>& layers);

}  // namespace tvtuner
