// The bridge's device object, its interface query and its bookkeeping; the
// I2C routines themselves are in BridgeRoutines.cpp.
#include "sim/bus/CaptureBridge.h"

#include <map>
#include <mutex>
#include <string>

#include "sim/Kernel.h"

namespace sim {
namespace {

// The bridge's routines are plain functions; they find their bridge through
// the device object they are called with.
std::mutex registryMutex;
std::map<DEVICE_OBJECT*, CaptureBridge*>& Bridges()
{
    static std::map<DEVICE_OBJECT*, CaptureBridge*> bridges;
    return bridges;
}

}  // namespace

CaptureBridge::CaptureBridge(I2cBus& bus) : bus_(bus)
{
    device_ = CreateDevice([this](DEVICE_OBJECT*, IRP* irp) { return Dispatch(irp); });
    std::lock_guard<std::mutex> lock(registryMutex);
    Bridges()[device_] = this;
}

CaptureBridge::~CaptureBridge()
{
    for (std::thread& completer : completers_) completer.join();
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        Bridges().erase(device_);
    }
    DeleteDevice(device_);
}

CaptureBridge* CaptureBridge::FromDevice(DEVICE_OBJECT* device, const char* routine)
{
    CaptureBridge* bridge = nullptr;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        auto it = Bridges().find(device);
        if (it != Bridges().end()) bridge = it->second;
    }
    if (bridge == nullptr) {
        ReportViolation(std::string(routine) + " called with a device object that is not a capture bridge");
    }
    return bridge;
}

NTSTATUS CaptureBridge::Dispatch(IRP* irp)
{
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    bool i2cQuery = stack->MajorFunction == IRP_MJ_PNP && stack->MinorFunction == IRP_MN_QUERY_INTERFACE &&
                    stack->Parameters.QueryInterface.InterfaceType != nullptr &&
                    IsEqualGuid(*stack->Parameters.QueryInterface.InterfaceType, GUID_I2C_INTERFACE);
    if (stack->MajorFunction == IRP_MJ_PNP && CurrentIrql() != PASSIVE_LEVEL) {
        ReportViolation("a PnP IRP reached the capture bridge above PASSIVE_LEVEL");
    }

    bool answer = false;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (i2cQuery) {
            ++counters_.Queries;
            answer = offer_ != InterfaceOffer::NotOffered && stack->Parameters.QueryInterface.Size >= sizeof(I2CINTERFACE) &&
                     stack->Parameters.QueryInterface.Version == 1 &&
                     stack->Parameters.QueryInterface.Interface != nullptr;
        }
        if (answer && completion_ != QueryCompletion::Immediate) {
            if (pendingQuery_ != nullptr) ReportViolation("a second interface query while one is pending");
            MarkIrpPending(irp);
            pendingQuery_ = irp;
            pendingChanged_.notify_all();
            if (completion_ == QueryCompletion::PendingOtherThread) {
                completers_.emplace_back([this] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    CompletePendingQuery();
                });
            }
            return STATUS_PENDING;
        }
    }

    // Anything the bridge does not answer keeps the status its sender preset.
    if (answer) CompleteQuery(irp);
    NTSTATUS status = irp->IoStatus.Status;
    CompleteRequest(irp);
    return status;
}

void CaptureBridge::CompleteQuery(IRP* irp)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    FillInterface(reinterpret_cast<I2CINTERFACE*>(stack->Parameters.QueryInterface.Interface));
    irp->IoStatus.Status = STATUS_SUCCESS;
}

void CaptureBridge::FillInterface(I2CINTERFACE* record)
{
    record->Size = sizeof(I2CINTERFACE);
    record->Version = 1;
    record->Context = this;
    record->InterfaceReference = &CaptureBridge::InterfaceReference;
    record->InterfaceDereference = &CaptureBridge::InterfaceDereference;
    record->i2cOpen = offer_ == InterfaceOffer::NoOpenRoutine ? nullptr : &CaptureBridge::I2cOpen;
    record->i2cAccess = offer_ == InterfaceOffer::NoAccessRoutine ? nullptr : &CaptureBridge::I2cAccess;
    // The interface handed out carries one reference.
    ++references_;
}

bool CaptureBridge::CompletePendingQuery()
{
    IRP* irp = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        irp = pendingQuery_;
        if (irp == nullptr) return false;
        pendingQuery_ = nullptr;
        CompleteQuery(irp);
        pendingChanged_.notify_all();
    }
    CompleteRequest(irp);
    return true;
}

bool CaptureBridge::QueryPending() const
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return pendingQuery_ != nullptr;
}

bool CaptureBridge::WaitForPendingQuery(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::recursive_mutex> lock(mutex_);
    return pendingChanged_.wait_for(lock, timeout, [this] { return pendingQuery_ != nullptr; });
}

void NTAPI CaptureBridge::InterfaceReference(PVOID context)
{
    CaptureBridge* bridge = static_cast<CaptureBridge*>(context);
    std::lock_guard<std::recursive_mutex> lock(bridge->mutex_);
    ++bridge->references_;
}

void NTAPI CaptureBridge::InterfaceDereference(PVOID context)
{
    CaptureBridge* bridge = static_cast<CaptureBridge*>(context);
    std::lock_guard<std::recursive_mutex> lock(bridge->mutex_);
    if (bridge->references_ == 0) {
        ReportViolation("InterfaceDereference of the I2C interface without a reference");
        return;
    }
    --bridge->references_;
}

int32_t CaptureBridge::InterfaceReferences() const
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return references_;
}

void CaptureBridge::SetInterfaceOffer(InterfaceOffer offer)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    offer_ = offer;
}

void CaptureBridge::SetQueryCompletion(QueryCompletion completion)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    completion_ = completion;
}

void CaptureBridge::SetMaxIrql(KIRQL irql)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    maxIrql_ = irql;
}

// ---- Fault injection ----------------------------------------------------------------

void CaptureBridge::RefuseOpens(uint32_t count, OpenRefusal how)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    refuseOpens_ = count;
    refusal_ = how;
}

void CaptureBridge::RefuseCloses(bool refuse)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    refuseCloses_ = refuse;
}

void CaptureBridge::FailAccessAtByte(uint32_t byte)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    failAccessAt_ = byteSerial_ + byte;
}

void CaptureBridge::ErrorAtByte(uint32_t byte)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    errorAt_ = byteSerial_ + byte;
}

void CaptureBridge::BusyAtByte(uint32_t byte, uint32_t busyAnswers)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    busyAt_ = byteSerial_ + byte;
    busyAnswers_ = busyAnswers;
}

void CaptureBridge::BusyOnEveryByte(uint32_t busyAnswers)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    busyEveryByte_ = true;
    busyAnswers_ = busyAnswers;
}

void CaptureBridge::RefuseNotifications(bool refuse)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    refuseNotifications_ = refuse;
}

void CaptureBridge::ClearFaults()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    refuseOpens_ = 0;
    refuseCloses_ = false;
    refuseNotifications_ = false;
    failAccessAt_ = errorAt_ = busyAt_ = 0;
    busyEveryByte_ = false;
    busyAnswers_ = 0;
}

// ---- State and records ----------------------------------------------------------------

bool CaptureBridge::IsOpen() const
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return owner_ != 0;
}

DWORD CaptureBridge::OwnerCookie() const
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return owner_;
}

BridgeCounters CaptureBridge::Counters() const
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return counters_;
}

std::vector<BridgeCall> CaptureBridge::Calls() const
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return calls_;
}

std::vector<BridgeNotification> CaptureBridge::Notifications() const
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return notifications_;
}

void CaptureBridge::ClearRecords()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    calls_.clear();
    notifications_.clear();
    counters_ = BridgeCounters{};
}

int CaptureBridge::AddNotificationListener(NotificationListener listener)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    int id = nextListenerId_++;
    listeners_[id] = std::move(listener);
    return id;
}

void CaptureBridge::RemoveNotificationListener(int id)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    listeners_.erase(id);
}

int CaptureBridge::AddCallListener(CallListener listener)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    int id = nextListenerId_++;
    callListeners_[id] = std::move(listener);
    return id;
}

void CaptureBridge::RemoveCallListener(int id)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    callListeners_.erase(id);
}

std::vector<CaptureBridge::CallListener> CaptureBridge::Record(const BridgeCall& call)
{
    calls_.push_back(call);
    std::vector<CallListener> listeners;
    for (auto& [id, listener] : callListeners_) listeners.push_back(listener);
    return listeners;
}

}  // namespace sim
