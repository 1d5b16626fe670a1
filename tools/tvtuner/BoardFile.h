// Board files (TOML): each one is a layer over the board described so far.
// Mistakes throw UsageError naming the file, line, key and value.
#pragma once

#include <string>
#include <string_view>

#include "tools/tvtuner/BoardSetup.h"

namespace tvtuner {

void LoadBoardFile(const std::string& path, BoardSetup& setup);

// Board text under a name for messages; files it names are looked up in
// directory.
void LoadBoardText(std::string_view text, const std::string& name, const std::string& directory, BoardSetup& setup);

// Reads a binary EEPROM image (at most 256 bytes).
std::vector<uint8_t> ReadEepromImage(const std::string& path, const std::string& context);

}  // namespace tvtuner
