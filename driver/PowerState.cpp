// Device power changes. The tuner module may lose its programming below D0,
// so the return to D0 programs it again when that can have happened.
#include "driver/DeviceExtension.h"
#include "driver/DeviceLifecycle.h"
#include "platform/Kernel.h"
#include "platform/Status.h"

namespace {

// Null when the request carries no IRP to read.
IO_STACK_LOCATION* CurrentStackLocation(HW_STREAM_REQUEST_BLOCK* srb)
{
    return srb->Irp != nullptr ? IoGetCurrentIrpStackLocation(srb->Irp) : nullptr;
}

NTSTATUS ApplyPowerRequest(HW_STREAM_REQUEST_BLOCK* srb, UCHAR minorFunction)
{
    switch (minorFunction) {
    case IRP_MN_SET_POWER: {
        TunerDevice* tuner = static_cast<DeviceExtension*>(srb->HwDeviceExtension)->Tuner();
        return tuner->SetPowerState(static_cast<uint32_t>(srb->CommandData.DeviceState));
    }
    case IRP_MN_WAIT_WAKE:
    case IRP_MN_POWER_SEQUENCE:
    case IRP_MN_QUERY_POWER:
        return STATUS_SUCCESS;
    default:
        return STATUS_NOT_IMPLEMENTED;
    }
}

}  // namespace

NTSTATUS ChangePowerState(HW_STREAM_REQUEST_BLOCK* srb)
{
    IO_STACK_LOCATION* stack = CurrentStackLocation(srb);
    if (stack == nullptr) return STATUS_NOT_IMPLEMENTED;
    return ApplyPowerRequest(srb, stack->MinorFunction);
}

NTSTATUS HandleUnknownCommand(HW_STREAM_REQUEST_BLOCK* srb)
{
    IO_STACK_LOCATION* stack = CurrentStackLocation(srb);
    if (stack == nullptr || stack->MajorFunction != IRP_MJ_POWER) return STATUS_NOT_IMPLEMENTED;
    return ApplyPowerRequest(srb, stack->MinorFunction);
}

NTSTATUS TunerDevice::SetPowerState(uint32_t newState)
{
    switch (newState) {
    case PowerDeviceD0:
        if (PowerState != PowerDeviceD0 && (WasInD3SinceD0 || AgcStoppedForPower)) {
            if (CurrentMode == KSPROPERTY_TUNER_MODE_FM_RADIO) {
                SetTunerMode(KSPROPERTY_TUNER_MODE_FM_RADIO);
            } else {
                SetVideoStandard(CurrentStandard);
            }
            // Until a tune succeeds, a set of the current frequency must tune:
            // the module may have lost its word.
            RetuneNeeded = 1;
            // No frequency yet: a divider for 0 Hz is no tune at all.
            if (CurrentFrequency != 0 && TuneFrequency(CurrentFrequency)) {
                RetuneNeeded = 0;
            }
        }
        WasInD3SinceD0 = 0;
        AgcStoppedForPower = 0;
        PowerState = PowerDeviceD0;
        break;
    case PowerDeviceD1:
    case PowerDeviceD2:
    case PowerDeviceD3:
    case PowerDeviceMaximum:
        // The cycle's 10 ms writes would go to a module without power.
        if (AgcTimer != nullptr) {
            StopAgcCycle();
            AgcStoppedForPower = 1;
        }
        if (newState == PowerDeviceD3) WasInD3SinceD0 = 1;
        PowerState = newState;
        break;
    default:
        break;
    }
    return STATUS_SUCCESS;
}
