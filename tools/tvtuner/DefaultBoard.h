// The board used when no board option is given (boards/default.toml, built in).
#pragma once

#include <string_view>

namespace tvtuner {

std::string_view DefaultBoardText();

}  // namespace tvtuner
