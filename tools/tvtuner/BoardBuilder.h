// Turns the board the command line describes into a simulated board: the
// chips it carries, the driver key, the antenna, and the faults to inject.
#pragma once

#include <cstdint>
#include <optional>

#include "sim/Board.h"
#include "tools/tvtuner/BoardSetup.h"

namespace tvtuner {

// The module model and address actually fitted, as the board says; none when
// the board names no catalogue model (the driver will find none either).
struct FittedModule {
    uint32_t Model = 0;
    uint8_t Address = 0;
};
std::optional<FittedModule> ModuleOf(const BoardSetup& setup);
std::optional<uint8_t> EepromAddressOf(const BoardSetup& setup);

sim::BoardDescription Describe(const BoardSetup& setup);

// Faults of the bridge and the chips, armed on the board before the start.
void ArmFaults(const BoardSetup& setup, sim::Board& board);

}  // namespace tvtuner
