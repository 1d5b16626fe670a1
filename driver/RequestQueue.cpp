// Every device request but the start passes through one FIFO queue per
// adapter. The caller that finds the queue idle drains it; the lock guards
// only the list and the busy flag and is never held across a handler or a
// completion, so at most one handler runs per adapter at any time.
#include "driver/RequestQueue.h"

#include "driver/DeviceExtension.h"
#include "driver/DeviceLifecycle.h"
#include "platform/Hal.h"
#include "platform/Status.h"

namespace {

void CompleteRequest(HW_STREAM_REQUEST_BLOCK* srb)
{
    // From here on the request and its extension belong to the class driver.
    StreamClassDeviceNotification(DeviceRequestComplete, srb->HwDeviceExtension, srb);
}

uint32_t AdapterStateOf(DeviceExtension* extension)
{
    return __atomic_load_n(&extension->AdapterState, __ATOMIC_ACQUIRE);
}

NTSTATUS PropertyStatus(bool handled)
{
    return handled ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
}

void Dispatch(HW_STREAM_REQUEST_BLOCK* srb)
{
    TunerDevice* tuner = static_cast<DeviceExtension*>(srb->HwDeviceExtension)->Tuner();
    switch (srb->Command) {
    case SRB_GET_STREAM_INFO:
        tuner->GetStreamInfo(srb);
        break;
    case SRB_GET_DEVICE_PROPERTY:
        srb->Status = PropertyStatus(tuner->GetTunerProperty(srb));
        break;
    case SRB_SET_DEVICE_PROPERTY:
        srb->Status = PropertyStatus(tuner->SetTunerProperty(srb));
        break;
    case SRB_CHANGE_POWER_STATE:
        srb->Status = ChangePowerState(srb);
        break;
    case SRB_UNINITIALIZE_DEVICE:
        UninitializeDevice(srb);
        break;
    case SRB_UNKNOWN_DEVICE_COMMAND:
        srb->Status = HandleUnknownCommand(srb);
        break;
    case SRB_INITIALIZATION_COMPLETE:
        srb->Status = tuner->RegisterTunerFilter(srb);
        break;
    default:
        srb->Status = STATUS_NOT_IMPLEMENTED;
        break;
    }
}

// Ends the adapter's use after SRB_UNINITIALIZE_DEVICE was handled: later
// requests must not reach a handler (a tune would re-create the AGC timer
// after the stop). The queue is left before the stop is completed, since the
// class driver may free the extension as soon as it has the completion.
void FinishStop(DeviceExtension* extension, HW_STREAM_REQUEST_BLOCK* stopRequest)
{
    LIST_ENTRY refused;
    InitializeListHead(&refused);

    KIRQL irql = KfAcquireSpinLock(&extension->QueueLock);
    __atomic_store_n(&extension->AdapterState, uint32_t(AdapterStopped), __ATOMIC_RELEASE);
    while (!IsListEmpty(&extension->QueueHead)) {
        InsertTailList(&refused, RemoveHeadList(&extension->QueueHead));
    }
    extension->QueueBusy = 0;
    KfReleaseSpinLock(&extension->QueueLock, irql);

    // The list head lives on this stack, the nodes in requests not yet
    // completed: neither is part of the extension.
    CompleteRequest(stopRequest);
    while (!IsListEmpty(&refused)) {
        HW_STREAM_REQUEST_BLOCK* srb = CONTAINING_RECORD(RemoveHeadList(&refused), QueueNode, Link)->Srb;
        srb->Status = STATUS_INVALID_DEVICE_STATE;
        CompleteRequest(srb);
    }
}

void DrainQueue(DeviceExtension* extension, KIRQL irql)
{
    for (;;) {
        if (IsListEmpty(&extension->QueueHead)) {
            extension->QueueBusy = 0;
            KfReleaseSpinLock(&extension->QueueLock, irql);
            return;
        }
        extension->QueueBusy = 1;
        HW_STREAM_REQUEST_BLOCK* srb = CONTAINING_RECORD(RemoveHeadList(&extension->QueueHead), QueueNode, Link)->Srb;
        KfReleaseSpinLock(&extension->QueueLock, irql);

        if (AdapterStateOf(extension) != AdapterStarted) {
            // Appended while the stop was being handled.
            srb->Status = STATUS_INVALID_DEVICE_STATE;
        } else {
            Dispatch(srb);
            if (srb->Command == SRB_UNINITIALIZE_DEVICE) {
                FinishStop(extension, srb);
                return;
            }
        }
        CompleteRequest(srb);
        irql = KfAcquireSpinLock(&extension->QueueLock);
    }
}

}  // namespace

void NTAPI ReceiveDevicePacket(HW_STREAM_REQUEST_BLOCK* srb)
{
    DeviceExtension* extension = static_cast<DeviceExtension*>(srb->HwDeviceExtension);
    QueueNode* node = static_cast<QueueNode*>(srb->SRBExtension);
    if (extension == nullptr || node == nullptr) {
        srb->Status = STATUS_INVALID_PARAMETER;
        CompleteRequest(srb);
        return;
    }

    if (srb->Command == SRB_INITIALIZE_DEVICE) {
        // Prepares the queue, so it cannot pass through it.
        InitializeDevice(srb);
        CompleteRequest(srb);
        return;
    }

    // Before a successful start the queue does not exist; after the stop
    // nothing may reach a handler.
    if (AdapterStateOf(extension) != AdapterStarted) {
        srb->Status = STATUS_INVALID_DEVICE_STATE;
        CompleteRequest(srb);
        return;
    }

    node->Srb = srb;
    KIRQL irql = KfAcquireSpinLock(&extension->QueueLock);
    InsertTailList(&extension->QueueHead, &node->Link);
    if (extension->QueueBusy) {
        // The draining caller handles and completes it in its turn.
        KfReleaseSpinLock(&extension->QueueLock, irql);
        return;
    }
    DrainQueue(extension, irql);
}

// A request is always handled and completed in its turn with its handler's
// status: a cancellation mark written here could overwrite a request that is
// being completed on another thread, or one already given back.
void NTAPI CancelPacket(HW_STREAM_REQUEST_BLOCK* /*srb*/)
{
}

void NTAPI RequestTimeout(HW_STREAM_REQUEST_BLOCK* /*srb*/)
{
}
