// Records and routines of the stream class driver (STREAM.SYS).
#pragma once

#include "platform/Kernel.h"
#include "platform/KernelStreaming.h"
#include "platform/Types.h"

enum SRB_COMMAND : int32_t {
    SRB_READ_DATA = 0x00,
    SRB_GET_STREAM_INFO = 0x100,
    SRB_OPEN_STREAM = 0x101,
    SRB_CLOSE_STREAM = 0x102,
    SRB_OPEN_DEVICE_INSTANCE = 0x103,
    SRB_CLOSE_DEVICE_INSTANCE = 0x104,
    SRB_GET_DEVICE_PROPERTY = 0x105,
    SRB_SET_DEVICE_PROPERTY = 0x106,
    SRB_INITIALIZE_DEVICE = 0x107,
    SRB_CHANGE_POWER_STATE = 0x108,
    SRB_UNINITIALIZE_DEVICE = 0x109,
    SRB_UNKNOWN_DEVICE_COMMAND = 0x10A,
    SRB_PAGING_OUT_DRIVER = 0x10B,
    SRB_GET_DATA_INTERSECTION = 0x10C,
    SRB_INITIALIZATION_COMPLETE = 0x10D,
    SRB_SURPRISE_REMOVAL = 0x10E,
    SRB_DEVICE_METHOD = 0x10F,
};

enum STREAM_MINIDRIVER_DEVICE_NOTIFICATION_TYPE : int32_t {
    ReadyForNextDeviceRequest = 0,
    DeviceRequestComplete = 1,
    SignalMultipleDeviceEvents = 2,
    SignalDeviceEvent = 3,
    DeleteDeviceEvent = 4,
};

constexpr ULONG STREAM_CLASS_VERSION_20 = 0x0200;

struct HW_STREAM_OBJECT;  // the tuner filter has no streams

struct STREAM_PROPERTY_DESCRIPTOR {
    KSPROPERTY* Property;  // the request's KSPROPERTY and the input behind it
    ULONG PropertySetID;
    PVOID PropertyInfo;    // the data buffer
    ULONG PropertyInputSize;
    ULONG PropertyOutputSize;
};

struct PORT_CONFIGURATION_INFORMATION {
    ULONG SizeOfThisPacket;
    PVOID HwDeviceExtension;
    DEVICE_OBJECT* ClassDeviceObject;
    DEVICE_OBJECT* PhysicalDeviceObject;
    ULONG SystemIoBusNumber;
    int32_t AdapterInterfaceType;
    ULONG BusInterruptLevel;
    ULONG BusInterruptVector;
    int32_t InterruptMode;
    ULONG DmaChannel;
    ULONG NumberOfAccessRanges;
    PVOID AccessRanges;
    ULONG StreamDescriptorSize;
    IRP* Irp;
    PVOID InterruptObject;
    PVOID DmaAdapterObject;
    DEVICE_OBJECT* RealPhysicalDeviceObject;
    ULONG Reserved[1];
};

struct HW_STREAM_HEADER {
    ULONG NumberOfStreams;
    ULONG SizeOfHwStreamInformation;
    ULONG NumDevPropArrayEntries;
    KSPROPERTY_SET* DevicePropertiesArray;
    ULONG NumDevEventArrayEntries;
    PVOID DeviceEventsArray;
    KSTOPOLOGY* Topology;
    PVOID DeviceEventRoutine;
    LONG NumDevMethodArrayEntries;
    PVOID DeviceMethodsArray;
};

struct HW_STREAM_INFORMATION {
    ULONG NumberOfPossibleInstances;
    ULONG DataFlow;
    BOOLEAN DataAccessible;
    ULONG NumberOfFormatArrayEntries;
    PVOID StreamFormatsArray;
    PVOID ClassReserved[4];
    ULONG NumStreamPropArrayEntries;
    KSPROPERTY_SET* StreamPropertiesArray;
    ULONG NumStreamEventArrayEntries;
    PVOID StreamEventsArray;
    GUID* Category;
    GUID* Name;
    ULONG MediumsCount;
    const KSPIN_MEDIUM* Mediums;
    BOOLEAN BridgeStream;
    ULONG Reserved[2];
};

struct HW_STREAM_DESCRIPTOR {
    HW_STREAM_HEADER StreamHeader;
    HW_STREAM_INFORMATION StreamInfo;
};

struct HW_STREAM_REQUEST_BLOCK {
    ULONG SizeOfThisPacket;
    SRB_COMMAND Command;
    NTSTATUS Status;
    HW_STREAM_OBJECT* StreamObject;
    PVOID HwDeviceExtension;
    PVOID SRBExtension;
    union {
        PVOID DataBufferArray;
        HW_STREAM_DESCRIPTOR* StreamBuffer;
        ULONG StreamState;
        PVOID TimeReference;
        STREAM_PROPERTY_DESCRIPTOR* PropertyInfo;
        PVOID OpenFormat;
        PORT_CONFIGURATION_INFORMATION* ConfigInfo;
        HANDLE MasterClockHandle;
        DEVICE_POWER_STATE DeviceState;
        PVOID IntersectInfo;
        PVOID MethodInfo;
        LONG FilterTypeIndex;
        BOOLEAN Idle;
    } CommandData;
    ULONG NumberOfBuffers;
    ULONG TimeoutCounter;
    ULONG TimeoutOriginal;
    HW_STREAM_REQUEST_BLOCK* NextSRB;
    IRP* Irp;
    ULONG Flags;
    PVOID HwInstanceExtension;
    union {
        ULONG NumberOfBytesToTransfer;
        ULONG ActualBytesTransferred;
    };
    PVOID ScatterGatherBuffer;
    ULONG NumberOfPhysicalPages;
    ULONG NumberOfScatterGatherElements;
    ULONG Reserved[1];
};

typedef void(NTAPI* PHW_RECEIVE_DEVICE_SRB)(HW_STREAM_REQUEST_BLOCK* srb);
typedef void(NTAPI* PHW_CANCEL_SRB)(HW_STREAM_REQUEST_BLOCK* srb);
typedef void(NTAPI* PHW_REQUEST_TIMEOUT_HANDLER)(HW_STREAM_REQUEST_BLOCK* srb);
typedef BOOLEAN(NTAPI* PHW_INTERRUPT)(PVOID deviceExtension);

struct HW_INITIALIZATION_DATA {
    ULONG HwInitializationDataSize;
    PHW_INTERRUPT HwInterrupt;
    PHW_RECEIVE_DEVICE_SRB HwReceivePacket;
    PHW_CANCEL_SRB HwCancelPacket;
    PHW_REQUEST_TIMEOUT_HANDLER HwRequestTimeoutHandler;
    ULONG DeviceExtensionSize;
    ULONG PerRequestExtensionSize;
    ULONG PerStreamExtensionSize;
    ULONG FilterInstanceExtensionSize;
    BOOLEAN BusMasterDMA;
    BOOLEAN Dma24BitAddresses;
    ULONG BufferAlignment;
    BOOLEAN TurnOffSynchronization;
    ULONG DmaBufferSize;
    ULONG NumNameExtensions;
    WCHAR** NameExtensionArray;
};

extern "C" {

NTSTATUS NTAPI StreamClassRegisterAdapter(PVOID argument1, PVOID argument2,
                                          HW_INITIALIZATION_DATA* hwInitializationData);
void CDECL StreamClassDeviceNotification(STREAM_MINIDRIVER_DEVICE_NOTIFICATION_TYPE notificationType,
                                         PVOID hwDeviceExtension, ...);
NTSTATUS NTAPI StreamClassRegisterFilterWithNoKSPins(DEVICE_OBJECT* deviceObject, const GUID* interfaceClassGuid,
                                                     ULONG pinCount, BOOL* pinDirection,
                                                     KSPIN_MEDIUM* mediumList, GUID* categoryList);

}  // extern "C"

// ---- Published layouts -----------------------------------------------------

static_assert(sizeof(HW_STREAM_REQUEST_BLOCK) == 76, "HW_STREAM_REQUEST_BLOCK");
static_assert(offsetof(HW_STREAM_REQUEST_BLOCK, Status) == 8, "SRB.Status");
static_assert(offsetof(HW_STREAM_REQUEST_BLOCK, HwDeviceExtension) == 16, "SRB.HwDeviceExtension");
static_assert(offsetof(HW_STREAM_REQUEST_BLOCK, SRBExtension) == 20, "SRB.SRBExtension");
static_assert(offsetof(HW_STREAM_REQUEST_BLOCK, CommandData) == 24, "SRB.CommandData");
static_assert(offsetof(HW_STREAM_REQUEST_BLOCK, Irp) == 44, "SRB.Irp");
static_assert(offsetof(HW_STREAM_REQUEST_BLOCK, ActualBytesTransferred) == 56, "SRB.ActualBytesTransferred");
static_assert(offsetof(HW_STREAM_REQUEST_BLOCK, Reserved) == 72, "SRB.Reserved");
static_assert(sizeof(STREAM_PROPERTY_DESCRIPTOR) == 20, "STREAM_PROPERTY_DESCRIPTOR");
static_assert(sizeof(PORT_CONFIGURATION_INFORMATION) == 72, "PORT_CONFIGURATION_INFORMATION");
static_assert(offsetof(PORT_CONFIGURATION_INFORMATION, NumberOfAccessRanges) == 40, "PCI.NumberOfAccessRanges");
static_assert(offsetof(PORT_CONFIGURATION_INFORMATION, StreamDescriptorSize) == 48, "PCI.StreamDescriptorSize");
static_assert(offsetof(PORT_CONFIGURATION_INFORMATION, RealPhysicalDeviceObject) == 64, "PCI.RealPhysicalDeviceObject");
static_assert(sizeof(HW_INITIALIZATION_DATA) == 60, "HW_INITIALIZATION_DATA");
static_assert(offsetof(HW_INITIALIZATION_DATA, DeviceExtensionSize) == 20, "HWID.DeviceExtensionSize");
static_assert(offsetof(HW_INITIALIZATION_DATA, BusMasterDMA) == 36, "HWID.BusMasterDMA");
static_assert(offsetof(HW_INITIALIZATION_DATA, BufferAlignment) == 40, "HWID.BufferAlignment");
static_assert(offsetof(HW_INITIALIZATION_DATA, TurnOffSynchronization) == 44, "HWID.TurnOffSynchronization");
static_assert(offsetof(HW_INITIALIZATION_DATA, NameExtensionArray) == 56, "HWID.NameExtensionArray");
static_assert(sizeof(HW_STREAM_HEADER) == 40, "HW_STREAM_HEADER");
static_assert(offsetof(HW_STREAM_HEADER, Topology) == 24, "HW_STREAM_HEADER.Topology");
static_assert(sizeof(HW_STREAM_INFORMATION) == 80, "HW_STREAM_INFORMATION");
static_assert(offsetof(HW_STREAM_INFORMATION, Category) == 52, "HW_STREAM_INFORMATION.Category");
static_assert(offsetof(HW_STREAM_INFORMATION, BridgeStream) == 68, "HW_STREAM_INFORMATION.BridgeStream");
static_assert(sizeof(HW_STREAM_DESCRIPTOR) == 120, "HW_STREAM_DESCRIPTOR");
static_assert(sizeof(SRB_COMMAND) == 4, "SRB_COMMAND");
