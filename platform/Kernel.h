// Records and routines of the kernel image (ntoskrnl.exe) that the driver
// uses, with their published 32-bit x86 layouts.
#pragma once

#include "platform/Status.h"
#include "platform/Types.h"

// ---- Interrupt request levels -------------------------------------------

constexpr KIRQL PASSIVE_LEVEL = 0;
constexpr KIRQL APC_LEVEL = 1;
constexpr KIRQL DISPATCH_LEVEL = 2;
constexpr KIRQL HIGH_LEVEL = 31;

// ---- Enumerations (4 bytes each) ------------------------------------------

enum POOL_TYPE : int32_t {
    NonPagedPool = 0,
    PagedPool = 1,
    NonPagedPoolMustSucceed = 2,
    NonPagedPoolCacheAligned = 4,
    PagedPoolCacheAligned = 5,
    NonPagedPoolCacheAlignedMustS = 6,
};

enum EVENT_TYPE : int32_t { NotificationEvent = 0, SynchronizationEvent = 1 };
enum TIMER_TYPE : int32_t { NotificationTimer = 0, SynchronizationTimer = 1 };
enum KWAIT_REASON : int32_t { Executive = 0, DelayExecution = 4, Suspended = 5 };
enum KPROCESSOR_MODE_VALUES : int32_t { KernelMode = 0, UserMode = 1 };
typedef CCHAR KPROCESSOR_MODE;

enum WORK_QUEUE_TYPE : int32_t {
    CriticalWorkQueue = 0,
    DelayedWorkQueue = 1,
    HyperCriticalWorkQueue = 2,
};

enum DEVICE_POWER_STATE : int32_t {
    PowerDeviceUnspecified = 0,
    PowerDeviceD0 = 1,
    PowerDeviceD1 = 2,
    PowerDeviceD2 = 3,
    PowerDeviceD3 = 4,
    PowerDeviceMaximum = 5,
};

enum SYSTEM_POWER_STATE : int32_t { PowerSystemUnspecified = 0, PowerSystemWorking = 1 };
enum POWER_STATE_TYPE : int32_t { SystemPowerState = 0, DevicePowerState = 1 };
enum POWER_ACTION : int32_t { PowerActionNone = 0 };

union POWER_STATE {
    SYSTEM_POWER_STATE SystemState;
    DEVICE_POWER_STATE DeviceState;
};

enum KEY_VALUE_INFORMATION_CLASS : int32_t {
    KeyValueBasicInformation = 0,
    KeyValueFullInformation = 1,
    KeyValuePartialInformation = 2,
};

// ---- Constants -------------------------------------------------------------

constexpr UCHAR IRP_MJ_POWER = 0x16;
constexpr UCHAR IRP_MJ_PNP = 0x1B;
constexpr UCHAR IRP_MN_START_DEVICE = 0x00;
constexpr UCHAR IRP_MN_REMOVE_DEVICE = 0x02;
constexpr UCHAR IRP_MN_STOP_DEVICE = 0x04;
constexpr UCHAR IRP_MN_QUERY_INTERFACE = 0x08;
constexpr UCHAR IRP_MN_WAIT_WAKE = 0x00;
constexpr UCHAR IRP_MN_POWER_SEQUENCE = 0x01;
constexpr UCHAR IRP_MN_SET_POWER = 0x02;
constexpr UCHAR IRP_MN_QUERY_POWER = 0x03;

constexpr UCHAR SL_INVOKE_ON_CANCEL = 0x20;
constexpr UCHAR SL_INVOKE_ON_SUCCESS = 0x40;
constexpr UCHAR SL_INVOKE_ON_ERROR = 0x80;

constexpr ULONG PLUGPLAY_REGKEY_DEVICE = 1;
constexpr ULONG PLUGPLAY_REGKEY_DRIVER = 2;
constexpr ACCESS_MASK GENERIC_READ = 0x80000000u;
constexpr ACCESS_MASK GENERIC_WRITE = 0x40000000u;
constexpr ACCESS_MASK KEY_READ = 0x00020019u;

constexpr ULONG REG_NONE = 0;
constexpr ULONG REG_SZ = 1;
constexpr ULONG REG_EXPAND_SZ = 2;
constexpr ULONG REG_BINARY = 3;
constexpr ULONG REG_DWORD = 4;
constexpr ULONG REG_MULTI_SZ = 7;

// ---- Dispatcher objects (opaque to the driver; sizes matter) ----------------

struct KEVENT {
    ULONG Header[4];  // DISPATCHER_HEADER
};

struct KDPC;
typedef void(NTAPI* PKDEFERRED_ROUTINE)(KDPC* dpc, PVOID deferredContext, PVOID systemArgument1,
                                        PVOID systemArgument2);

struct KDPC {
    UCHAR Type;
    UCHAR Importance;
    USHORT Number;
    LIST_ENTRY DpcListEntry;
    PKDEFERRED_ROUTINE DeferredRoutine;
    PVOID DeferredContext;
    PVOID SystemArgument1;
    PVOID SystemArgument2;
    PVOID DpcData;
};

struct alignas(8) KTIMER {
    ULONG Header[4];  // DISPATCHER_HEADER
    ULARGE_INTEGER DueTime;
    LIST_ENTRY TimerListEntry;
    KDPC* Dpc;
    LONG Period;
};

// ---- I/O manager records ---------------------------------------------------

struct DEVICE_OBJECT;
struct DRIVER_OBJECT;  // opaque: the driver only passes it on
struct IRP;
struct IO_WORKITEM;    // opaque

struct IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
};

typedef void(NTAPI* PINTERFACE_REFERENCE)(PVOID context);
typedef void(NTAPI* PINTERFACE_DEREFERENCE)(PVOID context);

struct INTERFACE {
    USHORT Size;
    USHORT Version;
    PVOID Context;
    PINTERFACE_REFERENCE InterfaceReference;
    PINTERFACE_DEREFERENCE InterfaceDereference;
};

typedef NTSTATUS(NTAPI* PIO_COMPLETION_ROUTINE)(DEVICE_OBJECT* deviceObject, IRP* irp, PVOID context);
typedef void(NTAPI* PIO_WORKITEM_ROUTINE)(DEVICE_OBJECT* deviceObject, PVOID context);

// No 8-byte member in the union, so the record keeps the kit's 4-packed layout.
struct IO_STACK_LOCATION {
    UCHAR MajorFunction;
    UCHAR MinorFunction;
    UCHAR Flags;
    UCHAR Control;
    union {
        struct {
            const GUID* InterfaceType;
            USHORT Size;
            USHORT Version;
            INTERFACE* Interface;
            PVOID InterfaceSpecificData;
        } QueryInterface;
        struct {
            ULONG SystemContext;
            POWER_STATE_TYPE Type;
            POWER_STATE State;
            POWER_ACTION ShutdownType;
        } Power;
        struct {
            PVOID Argument1;
            PVOID Argument2;
            PVOID Argument3;
            PVOID Argument4;
        } Others;
    } Parameters;
    DEVICE_OBJECT* DeviceObject;
    PVOID FileObject;
    PIO_COMPLETION_ROUTINE CompletionRoutine;
    PVOID Context;
};

struct alignas(8) IRP {
    CSHORT Type;
    USHORT Size;
    PVOID MdlAddress;
    ULONG Flags;
    union {
        IRP* MasterIrp;
        LONG IrpCount;
        PVOID SystemBuffer;
    } AssociatedIrp;
    LIST_ENTRY ThreadListEntry;
    IO_STATUS_BLOCK IoStatus;
    CHAR RequestorMode;
    BOOLEAN PendingReturned;
    CHAR StackCount;
    CHAR CurrentLocation;
    BOOLEAN Cancel;
    KIRQL CancelIrql;
    CCHAR ApcEnvironment;
    UCHAR AllocationFlags;
    IO_STATUS_BLOCK* UserIosb;
    KEVENT* UserEvent;
    union {
        struct {
            PVOID UserApcRoutine;
            PVOID UserApcContext;
        } AsynchronousParameters;
        LARGE_INTEGER AllocationSize;
    } Overlay;
    PVOID CancelRoutine;
    PVOID UserBuffer;
    union {
        struct {
            PVOID DriverContext[4];
            PVOID Thread;
            char* AuxiliaryBuffer;
            LIST_ENTRY ListEntry;
            IO_STACK_LOCATION* CurrentStackLocation;
            PVOID OriginalFileObject;
        } Overlay;
        UCHAR Apc[48];
    } Tail;
};

struct DEVICE_OBJECT {
    CSHORT Type;
    USHORT Size;
    LONG ReferenceCount;
    DRIVER_OBJECT* DriverObject;
    DEVICE_OBJECT* NextDevice;
    DEVICE_OBJECT* AttachedDevice;
    IRP* CurrentIrp;
    PVOID Timer;
    ULONG Flags;
    ULONG Characteristics;
    PVOID Vpb;
    PVOID DeviceExtension;
    ULONG DeviceType;
    CCHAR StackSize;
    UCHAR Reserved0[3];
    UCHAR Queue[40];
    ULONG AlignmentRequirement;
    UCHAR DeviceQueue[20];
    KDPC Dpc;
    ULONG ActiveThreadCount;
    PVOID SecurityDescriptor;
    KEVENT DeviceLock;
    USHORT SectorSize;
    USHORT Spare1;
    PVOID DeviceObjectExtension;
    PVOID Reserved;
};

// The kit's stack-location helpers are header inlines; so are ours.
inline IO_STACK_LOCATION* IoGetCurrentIrpStackLocation(IRP* irp)
{
    return irp->Tail.Overlay.CurrentStackLocation;
}

inline IO_STACK_LOCATION* IoGetNextIrpStackLocation(IRP* irp)
{
    return irp->Tail.Overlay.CurrentStackLocation - 1;
}

inline void IoSetCompletionRoutine(IRP* irp, PIO_COMPLETION_ROUTINE routine, PVOID context,
                                   bool onSuccess, bool onError, bool onCancel)
{
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
    next->CompletionRoutine = routine;
    next->Context = context;
    next->Control = 0;
    if (onSuccess) next->Control |= SL_INVOKE_ON_SUCCESS;
    if (onError) next->Control |= SL_INVOKE_ON_ERROR;
    if (onCancel) next->Control |= SL_INVOKE_ON_CANCEL;
}

// ---- Registry record -------------------------------------------------------

struct KEY_VALUE_FULL_INFORMATION {
    ULONG TitleIndex;
    ULONG Type;
    ULONG DataOffset;  // bytes from the start of the record to the data
    ULONG DataLength;
    ULONG NameLength;  // bytes
    WCHAR Name[1];     // not zero-terminated
};

// ---- Routines of ntoskrnl.exe ---------------------------------------------

extern "C" {

PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE poolType, size_t numberOfBytes, ULONG tag);
void NTAPI ExFreePool(PVOID p);

void NTAPI KeInitializeSpinLock(KSPIN_LOCK* spinLock);

void NTAPI KeInitializeEvent(KEVENT* event, EVENT_TYPE type, BOOLEAN state);
LONG NTAPI KeSetEvent(KEVENT* event, KPRIORITY increment, BOOLEAN wait);
NTSTATUS NTAPI KeWaitForSingleObject(PVOID object, KWAIT_REASON waitReason, KPROCESSOR_MODE waitMode,
                                     BOOLEAN alertable, LARGE_INTEGER* timeout);

IRP* NTAPI IoAllocateIrp(CCHAR stackSize, BOOLEAN chargeQuota);
NTSTATUS FASTCALL IofCallDriver(DEVICE_OBJECT* deviceObject, IRP* irp);
void NTAPI IoFreeIrp(IRP* irp);

void NTAPI KeInitializeDpc(KDPC* dpc, PKDEFERRED_ROUTINE deferredRoutine, PVOID deferredContext);
void NTAPI KeInitializeTimerEx(KTIMER* timer, TIMER_TYPE type);
BOOLEAN NTAPI KeSetTimerEx(KTIMER* timer, LARGE_INTEGER dueTime, LONG period, KDPC* dpc);
BOOLEAN NTAPI KeCancelTimer(KTIMER* timer);
BOOLEAN NTAPI KeRemoveQueueDpc(KDPC* dpc);
void NTAPI KeFlushQueuedDpcs();
LARGE_INTEGER NTAPI RtlConvertLongToLargeInteger(LONG signedInteger);

IO_WORKITEM* NTAPI IoAllocateWorkItem(DEVICE_OBJECT* deviceObject);
void NTAPI IoQueueWorkItem(IO_WORKITEM* item, PIO_WORKITEM_ROUTINE routine, WORK_QUEUE_TYPE queueType,
                           PVOID context);
void NTAPI IoFreeWorkItem(IO_WORKITEM* item);

NTSTATUS NTAPI KeDelayExecutionThread(KPROCESSOR_MODE waitMode, BOOLEAN alertable, LARGE_INTEGER* interval);
void NTAPI KeQuerySystemTime(LARGE_INTEGER* currentTime);
ULONGLONG NTAPI KeQueryInterruptTime();

NTSTATUS NTAPI IoOpenDeviceRegistryKey(DEVICE_OBJECT* deviceObject, ULONG devInstKeyType,
                                       ACCESS_MASK desiredAccess, HANDLE* devInstRegKey);
NTSTATUS NTAPI ZwQueryValueKey(HANDLE keyHandle, UNICODE_STRING* valueName,
                               KEY_VALUE_INFORMATION_CLASS keyValueInformationClass,
                               PVOID keyValueInformation, ULONG length, ULONG* resultLength);
NTSTATUS NTAPI ZwClose(HANDLE handle);

void NTAPI RtlInitUnicodeString(UNICODE_STRING* destinationString, const WCHAR* sourceString);
BOOLEAN NTAPI RtlEqualUnicodeString(const UNICODE_STRING* string1, const UNICODE_STRING* string2,
                                    BOOLEAN caseInSensitive);
NTSTATUS NTAPI RtlUnicodeStringToInteger(const UNICODE_STRING* string, ULONG base, ULONG* value);

}  // extern "C"

// The kernel exports wcscpy (cdecl) for 16-bit characters. On the host the C
// library owns the symbol for its 32-bit wchar_t, so there the simulated
// kernel provides it as a C++ overload instead of a C export.
#if defined(_WIN32)
extern "C" WCHAR* CDECL wcscpy(WCHAR* destination, const WCHAR* source);
#else
WCHAR* CDECL wcscpy(WCHAR* destination, const WCHAR* source);
#endif

// ---- Published layouts -----------------------------------------------------

static_assert(sizeof(KEVENT) == 16, "KEVENT");
static_assert(sizeof(KDPC) == 32, "KDPC");
static_assert(offsetof(KDPC, DeferredRoutine) == 12, "KDPC.DeferredRoutine");
static_assert(offsetof(KDPC, DeferredContext) == 16, "KDPC.DeferredContext");
static_assert(sizeof(KTIMER) == 40 && alignof(KTIMER) == 8, "KTIMER");
static_assert(offsetof(KTIMER, Dpc) == 32 && offsetof(KTIMER, Period) == 36, "KTIMER members");
static_assert(sizeof(IO_STATUS_BLOCK) == 8, "IO_STATUS_BLOCK");
static_assert(sizeof(INTERFACE) == 16, "INTERFACE");
static_assert(offsetof(INTERFACE, InterfaceDereference) == 12, "INTERFACE.InterfaceDereference");
static_assert(sizeof(IO_STACK_LOCATION) == 36, "IO_STACK_LOCATION");
static_assert(offsetof(IO_STACK_LOCATION, Parameters) == 4, "IO_STACK_LOCATION.Parameters");
static_assert(offsetof(IO_STACK_LOCATION, Parameters.QueryInterface.Size) == 8, "QueryInterface.Size");
static_assert(offsetof(IO_STACK_LOCATION, Parameters.QueryInterface.Interface) == 12, "QueryInterface.Interface");
static_assert(offsetof(IO_STACK_LOCATION, Parameters.Power.State) == 12, "Power.State");
static_assert(offsetof(IO_STACK_LOCATION, DeviceObject) == 20, "IO_STACK_LOCATION.DeviceObject");
static_assert(offsetof(IO_STACK_LOCATION, CompletionRoutine) == 28, "IO_STACK_LOCATION.CompletionRoutine");
static_assert(offsetof(IO_STACK_LOCATION, Context) == 32, "IO_STACK_LOCATION.Context");
static_assert(sizeof(IRP) == 112 && alignof(IRP) == 8, "IRP");
static_assert(offsetof(IRP, IoStatus) == 24, "IRP.IoStatus");
static_assert(offsetof(IRP, StackCount) == 34 && offsetof(IRP, CurrentLocation) == 35, "IRP stack counts");
static_assert(offsetof(IRP, Overlay) == 48 && offsetof(IRP, Tail) == 64, "IRP.Overlay, IRP.Tail");
static_assert(offsetof(IRP, Tail.Overlay.Thread) == 80, "IRP.Tail.Overlay.Thread");
static_assert(offsetof(IRP, Tail.Overlay.CurrentStackLocation) == 96, "IRP current stack location");
static_assert(offsetof(IRP, Tail.Overlay.OriginalFileObject) == 100, "IRP.Tail.Overlay.OriginalFileObject");
static_assert(sizeof(DEVICE_OBJECT) == 184, "DEVICE_OBJECT");
static_assert(offsetof(DEVICE_OBJECT, DeviceExtension) == 40, "DEVICE_OBJECT.DeviceExtension");
static_assert(offsetof(DEVICE_OBJECT, StackSize) == 48, "DEVICE_OBJECT.StackSize");
static_assert(offsetof(DEVICE_OBJECT, Dpc) == 116, "DEVICE_OBJECT.Dpc");
static_assert(offsetof(DEVICE_OBJECT, DeviceLock) == 156, "DEVICE_OBJECT.DeviceLock");
static_assert(offsetof(DEVICE_OBJECT, Reserved) == 180, "DEVICE_OBJECT.Reserved");
static_assert(sizeof(KEY_VALUE_FULL_INFORMATION) == 24, "KEY_VALUE_FULL_INFORMATION");
static_assert(offsetof(KEY_VALUE_FULL_INFORMATION, Name) == 20, "KEY_VALUE_FULL_INFORMATION.Name");
static_assert(sizeof(POWER_STATE) == 4, "POWER_STATE");
static_assert(sizeof(POOL_TYPE) == 4 && sizeof(DEVICE_POWER_STATE) == 4, "enums are 4 bytes");
