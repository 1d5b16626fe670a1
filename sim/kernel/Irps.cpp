// Device objects and IRPs: allocation with stack locations behind the IRP,
// IofCallDriver to a simulated device's dispatch routine, and completion that
// runs the completion routines upwards as IoCompleteRequest does. Every IRP
// is tracked: who holds it, whether it was completed, whether it was freed.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/kernel/State.h"

namespace sim {
namespace {

constexpr CSHORT kIoTypeIrp = 6;
constexpr CSHORT kIoTypeDevice = 3;
constexpr UCHAR kPendingReturned = 0x01;  // SL_PENDING_RETURNED
constexpr unsigned char kFreedFill = 0xDF;

size_t IrpSize(int stackCount)
{
    return sizeof(IRP) + sizeof(IO_STACK_LOCATION) * static_cast<size_t>(stackCount);
}

IO_STACK_LOCATION* Locations(IRP* irp)
{
    return reinterpret_cast<IO_STACK_LOCATION*>(irp + 1);
}

std::string DescribeIrp(IRP* irp)
{
    std::string text = "IRP " + detail::Hex(irp);
    int current = irp->CurrentLocation;
    if (current >= 1 && current <= irp->StackCount) {
        IO_STACK_LOCATION* location = &Locations(irp)[current - 1];
        char codes[32];
        std::snprintf(codes, sizeof codes, " (major 0x%02X minor 0x%02X)", location->MajorFunction,
                      location->MinorFunction);
        text += codes;
    }
    return text;
}

// A routine the kernel calls must give back the IRQL and spin locks it got.
void CheckReturn(const char* what, const void* object, KIRQL irql, uint32_t locks)
{
    if (CurrentIrql() != irql) {
        ReportViolation(std::string(what) + " for " + detail::Hex(object) + " returned at " +
                        detail::IrqlText(CurrentIrql()) + ", called at " + detail::IrqlText(irql));
        SetIrql(irql);
    }
    if (HeldSpinLockCount() != locks) {
        ReportViolation(std::string(what) + " for " + detail::Hex(object) + " changed the spin locks held");
    }
}

bool ShouldInvoke(const IRP* irp, const IO_STACK_LOCATION* location)
{
    if (location->CompletionRoutine == nullptr) return false;
    if (irp->Cancel) return (location->Control & SL_INVOKE_ON_CANCEL) != 0;
    if (NT_SUCCESS(irp->IoStatus.Status)) return (location->Control & SL_INVOKE_ON_SUCCESS) != 0;
    return (location->Control & SL_INVOKE_ON_ERROR) != 0;
}

}  // namespace

DEVICE_OBJECT* CreateDevice(DispatchRoutine dispatch, CCHAR stackSize)
{
    auto* device = static_cast<DEVICE_OBJECT*>(std::calloc(1, sizeof(DEVICE_OBJECT)));
    device->Type = kIoTypeDevice;
    device->Size = sizeof(DEVICE_OBJECT);
    device->StackSize = stackSize;
    detail::KernelState& state = detail::State();
    std::lock_guard<std::mutex> lock(state.Mutex);
    state.Devices[device] = std::move(dispatch);
    return device;
}

void DeleteDevice(DEVICE_OBJECT* device)
{
    detail::KernelState& state = detail::State();
    std::string problem;
    {
        std::lock_guard<std::mutex> lock(state.Mutex);
        auto found = state.Devices.find(device);
        if (found == state.Devices.end()) {
            problem = "DeleteDevice of unknown device object " + detail::Hex(device);
            device = nullptr;
        } else {
            for (const auto& [item, record] : state.WorkItems) {
                if (record.Device == device && (record.Queued || record.Running != 0)) {
                    problem = "device object " + detail::Hex(device) + " deleted while its work item " +
                              detail::Hex(item) + " is queued or running";
                }
            }
            state.Devices.erase(found);
        }
    }
    if (!problem.empty()) ReportViolation(problem);
    if (device == nullptr) return;
    std::memset(device, kFreedFill, sizeof(DEVICE_OBJECT));
    std::free(device);
}

uint64_t OutstandingIrpCount()
{
    detail::KernelState& state = detail::State();
    std::lock_guard<std::mutex> lock(state.Mutex);
    return state.Irps.size();
}

void MarkIrpPending(IRP* irp)
{
    IoGetCurrentIrpStackLocation(irp)->Control |= kPendingReturned;
}

void CompleteRequest(IRP* irp)
{
    KIRQL irql = CurrentIrql();
    if (irql > DISPATCH_LEVEL) {
        ReportViolation("IoCompleteRequest at " + detail::IrqlText(irql) + " (above DISPATCH_LEVEL)");
    }
    detail::KernelState& state = detail::State();
    std::string problem;
    {
        std::lock_guard<std::mutex> lock(state.Mutex);
        auto found = state.Irps.find(irp);
        if (found == state.Irps.end()) {
            problem = state.FreedIrps.count(irp) ? "completion of freed IRP " + detail::Hex(irp)
                                                 : "completion of unknown IRP " + detail::Hex(irp);
        } else if (found->second.State != detail::IrpState::InDriver) {
            problem = found->second.EverCompleted ? DescribeIrp(irp) + " completed twice"
                                                  : "completion of " + DescribeIrp(irp) + ", which no driver was sent";
        } else if (irp->IoStatus.Status == STATUS_PENDING) {
            problem = DescribeIrp(irp) + " completed with STATUS_PENDING";
        } else {
            found->second.State = detail::IrpState::Completing;
            found->second.EverCompleted = true;
        }
    }
    if (!problem.empty()) {
        ReportViolation(problem);
        return;
    }

    // Walk up from the completing driver's location to the sender.
    while (irp->CurrentLocation <= irp->StackCount) {
        IO_STACK_LOCATION* location = irp->Tail.Overlay.CurrentStackLocation;
        ++irp->CurrentLocation;
        ++irp->Tail.Overlay.CurrentStackLocation;
        irp->PendingReturned = (location->Control & kPendingReturned) != 0;
        bool invoke = ShouldInvoke(irp, location);
        PIO_COMPLETION_ROUTINE routine = location->CompletionRoutine;
        PVOID context = location->Context;
        std::memset(location, 0, sizeof *location);
        if (!invoke) {
            if (irp->PendingReturned && irp->CurrentLocation <= irp->StackCount) {
                irp->Tail.Overlay.CurrentStackLocation->Control |= kPendingReturned;
            }
            continue;
        }
        DEVICE_OBJECT* owner =
            irp->CurrentLocation <= irp->StackCount ? irp->Tail.Overlay.CurrentStackLocation->DeviceObject : nullptr;
        uint32_t locks = HeldSpinLockCount();
        NTSTATUS status = routine(owner, irp, context);
        CheckReturn("completion routine", irp, irql, locks);
        std::lock_guard<std::mutex> lock(state.Mutex);
        auto found = state.Irps.find(irp);
        bool freed = found == state.Irps.end();
        if (status == STATUS_MORE_PROCESSING_REQUIRED) {
            // Back in the hands of the driver whose routine it was, or of the sender.
            if (!freed) {
                found->second.State = irp->CurrentLocation <= irp->StackCount ? detail::IrpState::InDriver
                                                                              : detail::IrpState::WithSender;
            }
            return;
        }
        if (freed) {
            problem = "completion routine freed IRP " + detail::Hex(irp) +
                      " without returning STATUS_MORE_PROCESSING_REQUIRED";
            break;
        }
    }
    if (problem.empty()) {
        std::lock_guard<std::mutex> lock(state.Mutex);
        state.Irps[irp].State = detail::IrpState::WithSender;
        problem = DescribeIrp(irp) +
                  " completed back to the I/O manager: an IRP from IoAllocateIrp must be reclaimed by a completion "
                  "routine returning STATUS_MORE_PROCESSING_REQUIRED";
    }
    ReportViolation(problem);
}

namespace detail {

void CollectIrpLeftovers(const KernelState& state, std::vector<std::string>* problems)
{
    for (const auto& entry : state.Irps) problems->push_back(DescribeIrp(entry.first) + " leaked (never freed)");
    for (const auto& entry : state.Devices) {
        problems->push_back("device object " + Hex(entry.first) + " never deleted");
    }
}

void ResetIrps(KernelState& state)
{
    for (const auto& entry : state.Irps) std::free(entry.first);
    for (const auto& entry : state.Devices) std::free(entry.first);
    state.Irps.clear();
    state.FreedIrps.clear();
    state.Devices.clear();
}

}  // namespace detail
}  // namespace sim

using namespace sim::detail;

extern "C" IRP* NTAPI IoAllocateIrp(CCHAR stackSize, BOOLEAN chargeQuota)
{
    (void)chargeQuota;
    KIRQL irql = sim::CurrentIrql();
    if (irql > DISPATCH_LEVEL) {
        sim::ReportViolation("IoAllocateIrp at " + IrqlText(irql) + " (above DISPATCH_LEVEL)");
        return nullptr;
    }
    if (stackSize < 1) {
        sim::ReportViolation("IoAllocateIrp with stack size " + std::to_string(stackSize));
        return nullptr;
    }
    KernelState& state = State();
    {
        std::lock_guard<std::mutex> lock(state.Mutex);
        if (TakeFault(&state.FailIrpNth)) return nullptr;
    }
    size_t size = sim::IrpSize(stackSize);
    void* memory = std::aligned_alloc(8, (size + 7) & ~size_t{7});
    std::memset(memory, 0, size);
    auto* irp = static_cast<IRP*>(memory);
    irp->Type = sim::kIoTypeIrp;
    irp->Size = static_cast<USHORT>(size);
    irp->StackCount = stackSize;
    irp->CurrentLocation = static_cast<CHAR>(stackSize + 1);
    irp->Tail.Overlay.CurrentStackLocation = sim::Locations(irp) + stackSize;
    std::lock_guard<std::mutex> lock(state.Mutex);
    state.Irps[irp] = IrpRecord{IrpState::WithSender, false};
    state.FreedIrps.erase(irp);
    return irp;
}

extern "C" NTSTATUS FASTCALL IofCallDriver(DEVICE_OBJECT* deviceObject, IRP* irp)
{
    KIRQL irql = sim::CurrentIrql();
    if (irql > DISPATCH_LEVEL) {
        sim::ReportViolation("IofCallDriver at " + IrqlText(irql) + " (above DISPATCH_LEVEL)");
    }
    KernelState& state = State();
    sim::DispatchRoutine dispatch;
    std::string problem;
    {
        std::lock_guard<std::mutex> lock(state.Mutex);
        auto found = state.Irps.find(irp);
        auto device = state.Devices.find(deviceObject);
        if (found == state.Irps.end()) {
            problem = (state.FreedIrps.count(irp) ? "IofCallDriver with freed IRP " : "IofCallDriver with unknown IRP ") +
                      Hex(irp);
        } else if (found->second.State == IrpState::Freed) {
            problem = "IofCallDriver with freed IRP " + Hex(irp);
        } else if (device == state.Devices.end()) {
            problem = "IofCallDriver to unknown device object " + Hex(deviceObject);
        } else if (irp->CurrentLocation <= 1) {
            problem = "IofCallDriver of " + Hex(irp) + " with no stack location left for device " + Hex(deviceObject);
        } else {
            found->second.State = IrpState::InDriver;
            dispatch = device->second;
        }
    }
    if (!problem.empty()) {
        sim::ReportViolation(problem);
        return STATUS_INVALID_PARAMETER;
    }
    --irp->CurrentLocation;
    --irp->Tail.Overlay.CurrentStackLocation;
    irp->Tail.Overlay.CurrentStackLocation->DeviceObject = deviceObject;
    CHAR location = irp->CurrentLocation;
    uint32_t locks = sim::HeldSpinLockCount();
    NTSTATUS status = dispatch(deviceObject, irp);
    sim::CheckReturn("dispatch routine", irp, irql, locks);
    if (status != STATUS_PENDING) {
        // Unless pending, the IRP must have been completed past this driver's location.
        std::lock_guard<std::mutex> lock(state.Mutex);
        auto found = state.Irps.find(irp);
        if (found != state.Irps.end() && found->second.State == IrpState::InDriver &&
            irp->CurrentLocation <= location) {
            problem = "dispatch routine of " + Hex(deviceObject) + " returned without completing " + Hex(irp) +
                      " and without STATUS_PENDING";
        }
    }
    if (!problem.empty()) sim::ReportViolation(problem);
    return status;
}

extern "C" void NTAPI IoFreeIrp(IRP* irp)
{
    KIRQL irql = sim::CurrentIrql();
    if (irql > DISPATCH_LEVEL) {
        sim::ReportViolation("IoFreeIrp at " + IrqlText(irql) + " (above DISPATCH_LEVEL)");
        return;
    }
    KernelState& state = State();
    std::string problem;
    size_t size = 0;
    {
        std::lock_guard<std::mutex> lock(state.Mutex);
        auto found = state.Irps.find(irp);
        if (found == state.Irps.end()) {
            problem = (state.FreedIrps.count(irp) ? "IRP freed twice: " : "IoFreeIrp of unknown IRP ") + Hex(irp);
        } else if (found->second.State == IrpState::InDriver) {
            problem = sim::DescribeIrp(irp) + " freed while in the hands of a driver";
        } else {
            size = irp->Size;
            state.Irps.erase(found);
            state.FreedIrps.insert(irp);
        }
    }
    if (!problem.empty()) {
        sim::ReportViolation(problem);
        return;
    }
    std::memset(irp, sim::kFreedFill, size);
    std::free(irp);
}
