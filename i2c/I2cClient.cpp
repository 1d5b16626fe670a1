// Construction of the client in place and the borrowing of the bridge's
// I2C interface.
#include "i2c/I2cClient.h"

#include "i2c/BridgeCalls.h"
#include "platform/Kernel.h"

namespace {

NTSTATUS NTAPI QueryInterfaceComplete(DEVICE_OBJECT* deviceObject, IRP* irp, PVOID context)
{
    (void)deviceObject;
    (void)irp;
    KeSetEvent(static_cast<KEVENT*>(context), 0, FALSE);
    // The IRP is ours: the caller frees it once the event says it is back.
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

void* I2cClient::operator new(size_t size, void* slot, size_t slotSize) noexcept
{
    if (slot == nullptr || size != sizeof(I2cClient) || slotSize != sizeof(I2cClient)) return nullptr;
    return slot;
}

I2cClient::I2cClient(DEVICE_OBJECT* physicalDevice, uint32_t* code)
{
    // CurrentAddress is left as the zero-filled extension holds it.
    Cookie = 0;
    FirstOpenFailure = 0;
    BridgeInterface.i2cOpen = nullptr;
    BridgeInterface.i2cAccess = nullptr;
    BridgeDevice = nullptr;
    InUse = 0;

    uint32_t result = ConstructionNoInterface;
    if (QueryI2cInterface(&BridgeInterface, physicalDevice)) {
        BridgeDevice = physicalDevice;
        BusClockRate = I2cBusClockRate;
        result = ConstructionOk;
    }
    if (code != nullptr) *code = result;
}

bool I2cClient::QueryI2cInterface(I2CINTERFACE* bridgeInterface, DEVICE_OBJECT* device)
{
    if (device == nullptr) return false;
    IRP* irp = IoAllocateIrp(device->StackSize, FALSE);
    if (irp == nullptr) return false;

    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;

    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = IRP_MN_QUERY_INTERFACE;
    next->Parameters.QueryInterface.InterfaceType = &GUID_I2C_INTERFACE;
    next->Parameters.QueryInterface.Size = sizeof(I2CINTERFACE);
    next->Parameters.QueryInterface.Version = 1;
    next->Parameters.QueryInterface.Interface = reinterpret_cast<INTERFACE*>(bridgeInterface);
    next->Parameters.QueryInterface.InterfaceSpecificData = nullptr;
    IoSetCompletionRoutine(irp, QueryInterfaceComplete, &done, true, true, true);

    if (IofCallDriver(device, irp) == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Suspended, KernelMode, FALSE, nullptr);
    }
    IoFreeIrp(irp);
    // Only the routines tell: a bridge may fill the record and still fail the IRP.
    return bridgeInterface->i2cOpen != nullptr && bridgeInterface->i2cAccess != nullptr;
}
