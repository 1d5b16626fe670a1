#include "driver/DriverEntry.h"

#include "driver/DeviceExtension.h"
#include "driver/RequestQueue.h"
#include "platform/StreamClass.h"

extern "C" NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driverObject, UNICODE_STRING* registryPath)
{
    HW_INITIALIZATION_DATA data;
    __builtin_memset(&data, 0, sizeof(data));
    data.HwInitializationDataSize = sizeof(HW_INITIALIZATION_DATA);
    data.HwReceivePacket = ReceiveDevicePacket;
    data.HwCancelPacket = CancelPacket;
    data.HwRequestTimeoutHandler = RequestTimeout;
    data.DeviceExtensionSize = sizeof(DeviceExtension);
    data.PerRequestExtensionSize = sizeof(QueueNode);
    data.BufferAlignment = 3;
    // The driver serialises its requests itself, in its queue.
    data.TurnOffSynchronization = TRUE;
    return StreamClassRegisterAdapter(driverObject, registryPath, &data);
}
