// The session's bus segments drawn as a VCD waveform.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "sim/bus/I2cBus.h"

namespace tvtuner {

void WriteWaveform(std::ostream& out, const std::vector<sim::BusSegment>& segments, uint32_t busClockHz);

}  // namespace tvtuner
