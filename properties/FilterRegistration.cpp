// Registers the tuner filter with its pin mediums, so that the board's other
// filters can be connected to the tuner's outputs.
#include "driver/DeviceExtension.h"
#include "platform/KernelStreaming.h"
#include "platform/Status.h"
#include "platform/StreamClass.h"
#include "properties/PinMediums.h"
#include "tuner/TunerDevice.h"

NTSTATUS TunerDevice::RegisterTunerFilter(HW_STREAM_REQUEST_BLOCK* srb)
{
    // Both arrays exist after every successful start; without them there is
    // nothing to describe, and the class driver would read through null.
    if (Mediums == nullptr || PinDirections == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }

    for (uint32_t pin = 0; pin < PinCount; ++pin) {
        KSPIN_MEDIUM& medium = Mediums[pin];
        const PinMediumRole role = MediumRoleOfPin(PinCount, pin);
        medium.Set = role < PinMediumRoleCount ? MediumGuidOfRole(role) : GUID_NULL;
        medium.Id = 0;
        medium.Flags = 0;
        PinDirections[pin] = TRUE;  // every pin is an output
    }

    DeviceExtension* extension = static_cast<DeviceExtension*>(srb->HwDeviceExtension);
    return StreamClassRegisterFilterWithNoKSPins(extension->RealPhysicalDeviceObject, &KSCATEGORY_TVTUNER,
                                                 PinCount, PinDirections, Mediums, nullptr);
}
