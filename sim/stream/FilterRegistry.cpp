// StreamClassRegisterFilterWithNoKSPins as a strict class driver performs it:
// arguments it would dereference must be there, the call must come at
// APC_LEVEL or below (it writes the registry), and everything it is given is
// copied, since the caller may reuse its arrays afterwards.
#include "sim/stream/FilterRegistry.h"

#include <map>
#include <mutex>
#include <sstream>

#include "platform/Status.h"
#include "platform/StreamClass.h"
#include "sim/Kernel.h"

namespace sim {
namespace {

struct Registry {
    std::mutex Mutex;
    std::map<const DEVICE_OBJECT*, RegisteredFilter> Filters;
    NTSTATUS InjectedStatus = STATUS_SUCCESS;
    uint32_t Calls = 0;
    bool HooksAdded = false;
};

Registry& State()
{
    static Registry registry;
    return registry;
}

void ClearLocked(Registry& registry)
{
    registry.Filters.clear();
    registry.InjectedStatus = STATUS_SUCCESS;
    registry.Calls = 0;
}

// The registry is reset with the rest of the simulation; hooks are added on
// first use, which always precedes anything worth resetting.
Registry& UsedState()
{
    Registry& registry = State();
    bool addHooks = false;
    {
        std::lock_guard<std::mutex> lock(registry.Mutex);
        if (!registry.HooksAdded) {
            registry.HooksAdded = true;
            addHooks = true;
        }
    }
    if (addHooks) {
        AddLifecycleHooks([] {}, [] { ClearRegisteredFilters(); });
    }
    return registry;
}

// Every argument fault is the driver's bug: report it and refuse the call.
std::string ArgumentFault(DEVICE_OBJECT* device, const GUID* interfaceClass, ULONG pinCount, BOOL* pinDirection,
                          KSPIN_MEDIUM* mediumList)
{
    if (CurrentIrql() > APC_LEVEL) {
        std::ostringstream message;
        message << "StreamClassRegisterFilterWithNoKSPins called at IRQL " << static_cast<int>(CurrentIrql())
                << " (above APC_LEVEL)";
        return message.str();
    }
    if (device == nullptr) return "StreamClassRegisterFilterWithNoKSPins without a device object";
    if (interfaceClass == nullptr) return "StreamClassRegisterFilterWithNoKSPins without an interface class";
    if (pinCount == 0) return "StreamClassRegisterFilterWithNoKSPins with no pins";
    if (pinDirection == nullptr) return "StreamClassRegisterFilterWithNoKSPins without pin directions";
    if (mediumList == nullptr) return "StreamClassRegisterFilterWithNoKSPins without mediums";
    return {};
}

}  // namespace

std::optional<RegisteredFilter> FindRegisteredFilter(const DEVICE_OBJECT* device)
{
    Registry& registry = UsedState();
    std::lock_guard<std::mutex> lock(registry.Mutex);
    auto found = registry.Filters.find(device);
    if (found == registry.Filters.end()) return std::nullopt;
    return found->second;
}

size_t RegisteredFilterCount()
{
    Registry& registry = UsedState();
    std::lock_guard<std::mutex> lock(registry.Mutex);
    return registry.Filters.size();
}

uint32_t FilterRegistrationCalls()
{
    Registry& registry = UsedState();
    std::lock_guard<std::mutex> lock(registry.Mutex);
    return registry.Calls;
}

void FailFilterRegistration(NTSTATUS status)
{
    Registry& registry = UsedState();
    std::lock_guard<std::mutex> lock(registry.Mutex);
    registry.InjectedStatus = status;
}

void ClearRegisteredFilters()
{
    Registry& registry = State();
    std::lock_guard<std::mutex> lock(registry.Mutex);
    ClearLocked(registry);
}

}  // namespace sim

extern "C" NTSTATUS NTAPI StreamClassRegisterFilterWithNoKSPins(DEVICE_OBJECT* deviceObject,
                                                                const GUID* interfaceClassGuid, ULONG pinCount,
                                                                BOOL* pinDirection, KSPIN_MEDIUM* mediumList,
                                                                GUID* categoryList)
{
    sim::Registry& registry = sim::UsedState();
    {
        std::lock_guard<std::mutex> lock(registry.Mutex);
        ++registry.Calls;
    }

    const std::string fault =
        sim::ArgumentFault(deviceObject, interfaceClassGuid, pinCount, pinDirection, mediumList);
    if (!fault.empty()) {
        sim::ReportViolation(fault);
        return STATUS_INVALID_PARAMETER;
    }

    std::lock_guard<std::mutex> lock(registry.Mutex);
    if (registry.InjectedStatus != STATUS_SUCCESS) {
        return registry.InjectedStatus;
    }
    sim::RegisteredFilter& filter = registry.Filters[deviceObject];
    filter.Device = deviceObject;
    filter.InterfaceClass = *interfaceClassGuid;
    filter.PinDirections.assign(pinDirection, pinDirection + pinCount);
    filter.Mediums.assign(mediumList, mediumList + pinCount);
    if (categoryList != nullptr) {
        filter.PinCategories.assign(categoryList, categoryList + pinCount);
    } else {
        filter.PinCategories.clear();
    }
    ++filter.Registrations;
    return STATUS_SUCCESS;
}
