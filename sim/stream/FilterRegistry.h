// The class driver's record of filters registered without kernel-streaming
// pins (StreamClassRegisterFilterWithNoKSPins): what a graph builder would
// later find when it connects the board's filters by medium.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Kernel.h"
#include "platform/KernelStreaming.h"

namespace sim {

struct RegisteredFilter {
    DEVICE_OBJECT* Device = nullptr;
    GUID InterfaceClass = {};
    std::vector<BOOL> PinDirections;       // TRUE: output pin
    std::vector<KSPIN_MEDIUM> Mediums;     // one per pin
    std::vector<GUID> PinCategories;       // empty when no category list came
    uint32_t Registrations = 0;            // successful calls for this device
};

// The filter last registered on a device, if any.
std::optional<RegisteredFilter> FindRegisteredFilter(const DEVICE_OBJECT* device);
size_t RegisteredFilterCount();
// Calls made, accepted or not.
uint32_t FilterRegistrationCalls();

// From now on every registration returns this status and records nothing;
// STATUS_SUCCESS restores normal work. Reset with the simulation.
void FailFilterRegistration(NTSTATUS status);

// Forgets every registration and fault (also part of sim::Reset).
void ClearRegisteredFilters();

}  // namespace sim
