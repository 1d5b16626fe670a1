// Start and stop of an adapter: the client and the tuner are built in place
// in the device extension, and everything they took is given back when the
// start fails or the adapter stops.
#include "driver/DeviceExtension.h"
#include "driver/DeviceLifecycle.h"
#include "platform/Kernel.h"
#include "platform/Status.h"

namespace {

void ReleaseBridgeInterface(I2cClient* client)
{
    I2CINTERFACE& bridge = client->BridgeInterface;
    if (bridge.InterfaceDereference != nullptr) {
        bridge.InterfaceDereference(bridge.Context);
        bridge.InterfaceDereference = nullptr;
    }
}

void ReleaseTunerResources(TunerDevice* tuner)
{
    if (tuner->Mediums != nullptr) {
        ExFreePool(tuner->Mediums);
        tuner->Mediums = nullptr;
    }
    if (tuner->PinDirections != nullptr) {
        ExFreePool(tuner->PinDirections);
        tuner->PinDirections = nullptr;
    }
    // Cancels the timer and waits for a running tick and its write.
    tuner->DestroyAgcTimer();
}

// Builds the tuner on the bus the caller opened; false leaves nothing
// allocated behind.
bool ConstructTuner(DeviceExtension* extension, PORT_CONFIGURATION_INFORMATION* config, I2cClient* client)
{
    uint32_t code = ConstructionNoMemory;
    TunerDevice* tuner = new (extension->TunerSlot, sizeof(extension->TunerSlot))
        TunerDevice(config->RealPhysicalDeviceObject, client, &code);
    if (tuner != nullptr && code != ConstructionOk) {
        ReleaseTunerResources(tuner);
    }
    return tuner != nullptr && code == ConstructionOk;
}

bool StartAdapter(DeviceExtension* extension, PORT_CONFIGURATION_INFORMATION* config)
{
    if (config->NumberOfAccessRanges != 0) return false;

    uint32_t code = ConstructionNoMemory;
    I2cClient* client = new (extension->ClientSlot, sizeof(extension->ClientSlot))
        I2cClient(config->PhysicalDeviceObject, &code);
    if (client == nullptr) return false;
    if (code != ConstructionOk) {
        // A bridge may hand out its interface, and a reference with it,
        // without the routines the client needs.
        ReleaseBridgeInterface(client);
        return false;
    }

    bool started = false;
    if (client->OpenBusWithRetry()) {
        started = ConstructTuner(extension, config, client);
        if (started) {
            InitializeListHead(&extension->QueueHead);
            KeInitializeSpinLock(&extension->QueueLock);
            extension->RealPhysicalDeviceObject = config->RealPhysicalDeviceObject;
            extension->Tuner()->WorkItemDevice = config->ClassDeviceObject;
            // The stream descriptor is the header alone: the filter has no streams.
            config->StreamDescriptorSize = sizeof(HW_STREAM_HEADER);
        }
        client->CloseBus();
    }
    if (!started) ReleaseBridgeInterface(client);
    return started;
}

}  // namespace

void InitializeDevice(HW_STREAM_REQUEST_BLOCK* srb)
{
    PORT_CONFIGURATION_INFORMATION* config = srb->CommandData.ConfigInfo;
    DeviceExtension* extension =
        config != nullptr ? static_cast<DeviceExtension*>(config->HwDeviceExtension) : nullptr;
    if (extension == nullptr) {
        srb->Status = STATUS_NO_SUCH_DEVICE;
        return;
    }
    // A started adapter is not rebuilt under its running queue, and a
    // stopped one stays stopped.
    if (extension->AdapterState != AdapterNotStarted) {
        srb->Status = STATUS_INVALID_DEVICE_STATE;
        return;
    }
    // After a failed start the slots hold what that attempt left; a new
    // attempt starts from the zeros of a fresh extension.
    __builtin_memset(extension->ClientSlot, 0, sizeof(extension->ClientSlot));
    __builtin_memset(extension->TunerSlot, 0, sizeof(extension->TunerSlot));

    if (!StartAdapter(extension, config)) {
        srb->Status = STATUS_NO_SUCH_DEVICE;
        return;
    }
    __atomic_store_n(&extension->AdapterState, uint32_t(AdapterStarted), __ATOMIC_RELEASE);
    srb->Status = STATUS_SUCCESS;
}

void UninitializeDevice(HW_STREAM_REQUEST_BLOCK* srb)
{
    DeviceExtension* extension = static_cast<DeviceExtension*>(srb->HwDeviceExtension);
    ReleaseTunerResources(extension->Tuner());
    // After the timer: a pending tick's write still used the bridge.
    ReleaseBridgeInterface(extension->Client());
    srb->Status = STATUS_SUCCESS;
}
