// Bus segments as short text, for test expectations and printouts:
//   "S C0 W 05 01 02 P"    START, address 0xC0 writing, three bytes, STOP
//   "Sr C0 R 37 5A~ P"     repeated START, reading; ~ marks a byte or address
//                          not acknowledged (the last byte of a read is never)
//   "S C2~ W reset"        an address nobody acknowledged, ended by a bus reset
// A segment that another START follows ends without a mark.
#pragma once

#include <string>
#include <vector>

#include "sim/bus/I2cBus.h"

namespace sim {

std::string Describe(const BusSegment& segment);
std::vector<std::string> Describe(const std::vector<BusSegment>& trace);

}  // namespace sim
