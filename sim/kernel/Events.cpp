// Events and waits. The signal state lives in the dispatcher header of the
// caller's object, as in a real kernel; waits block across threads for real.
// A timed wait that nobody satisfies advances the virtual clock to its
// timeout; an untimed one that nobody satisfies trips a real-time watchdog.
#include <chrono>

#include "sim/kernel/Dispatcher.h"
#include "sim/kernel/State.h"

namespace sim::detail {

namespace {

// Real time a timed wait gives other threads before its timeout is taken
// to have passed on the virtual clock.
constexpr auto kTimedWaitGrace = std::chrono::milliseconds(50);
constexpr auto kWaitSlice = std::chrono::milliseconds(5);

}  // namespace

UCHAR ObjectType(const void* object)
{
    return static_cast<const UCHAR*>(object)[0];
}

UCHAR ObjectSize(const void* object)
{
    return static_cast<const UCHAR*>(object)[2];
}

LONG& SignalState(void* object)
{
    return static_cast<LONG*>(object)[1];
}

void InitializeHeader(void* object, UCHAR type, UCHAR sizeInLongs, LONG signalState)
{
    auto* header = static_cast<ULONG*>(object);
    header[0] = type | (static_cast<ULONG>(sizeInLongs) << 16);
    header[1] = static_cast<ULONG>(signalState);
    auto* waitList = reinterpret_cast<LIST_ENTRY*>(&header[2]);
    InitializeListHead(waitList);
}

bool IsEvent(const void* object)
{
    UCHAR type = ObjectType(object);
    return (type == kEventNotification || type == kEventSynchronization) && ObjectSize(object) == kEventSize;
}

bool IsTimer(const void* object)
{
    UCHAR type = ObjectType(object);
    return (type == kTimerNotification || type == kTimerSynchronization) && ObjectSize(object) == kTimerSize;
}

// Mutex held. Satisfies the wait if the object is signalled.
bool TryAcquire(void* object)
{
    LONG& signal = SignalState(object);
    if (signal <= 0) return false;
    UCHAR type = ObjectType(object);
    if (type == kEventSynchronization || type == kTimerSynchronization) signal = 0;
    return true;
}

}  // namespace sim::detail

using namespace sim::detail;

extern "C" void NTAPI KeInitializeEvent(KEVENT* event, EVENT_TYPE type, BOOLEAN state)
{
    if (type != NotificationEvent && type != SynchronizationEvent) {
        sim::ReportViolation("KeInitializeEvent with invalid type " + std::to_string(type));
    }
    InitializeHeader(event, type == SynchronizationEvent ? kEventSynchronization : kEventNotification, kEventSize,
                     state ? 1 : 0);
}

extern "C" LONG NTAPI KeSetEvent(KEVENT* event, KPRIORITY increment, BOOLEAN wait)
{
    (void)increment;
    (void)wait;
    KIRQL irql = sim::CurrentIrql();
    if (irql > DISPATCH_LEVEL) {
        sim::ReportViolation("KeSetEvent at " + IrqlText(irql) + " (above DISPATCH_LEVEL)");
    }
    if (!IsEvent(event)) {
        sim::ReportViolation("KeSetEvent on " + Hex(event) + ", which is not an initialized event");
        return 0;
    }
    KernelState& state = State();
    LONG previous;
    {
        std::lock_guard<std::mutex> lock(state.Mutex);
        previous = SignalState(event);
        SignalState(event) = 1;
    }
    state.Changed.notify_all();
    return previous;
}

extern "C" NTSTATUS NTAPI KeWaitForSingleObject(PVOID object, KWAIT_REASON waitReason, KPROCESSOR_MODE waitMode,
                                                BOOLEAN alertable, LARGE_INTEGER* timeout)
{
    (void)waitReason;
    (void)waitMode;
    (void)alertable;
    KIRQL irql = sim::CurrentIrql();
    bool blocking = timeout == nullptr || timeout->QuadPart != 0;
    if (blocking && InDpc()) {
        sim::ReportViolation("KeWaitForSingleObject with a non-zero timeout inside a DPC");
        return STATUS_TIMEOUT;
    }
    if (irql > DISPATCH_LEVEL || (blocking && irql > APC_LEVEL)) {
        sim::ReportViolation("KeWaitForSingleObject at " + IrqlText(irql) +
                             (blocking ? " with a non-zero timeout (above APC_LEVEL)" : " (above DISPATCH_LEVEL)"));
        return STATUS_TIMEOUT;
    }
    if (!IsEvent(object) && !IsTimer(object)) {
        sim::ReportViolation("KeWaitForSingleObject on " + Hex(object) +
                             ", which is not an initialized event or timer");
        return STATUS_TIMEOUT;
    }

    KernelState& state = State();
    int64_t deadline = 0;
    {
        std::lock_guard<std::mutex> lock(state.Mutex);
        if (TryAcquire(object)) return STATUS_SUCCESS;
        if (!blocking) return STATUS_TIMEOUT;
        if (timeout != nullptr) deadline = ToInterruptTime(state, timeout->QuadPart);
    }

    // Work that is due now runs while this thread waits, as a worker thread
    // or another processor would run it; it may be what satisfies the wait.
    bool satisfied = false;
    auto signalled = [&] {
        std::lock_guard<std::mutex> lock(state.Mutex);
        if (!satisfied) satisfied = TryAcquire(object);
        return satisfied;
    };
    auto started = std::chrono::steady_clock::now();
    {
        std::unique_lock<std::mutex> lock(state.Mutex);
        state.Waited.insert(object);
    }
    NTSTATUS status = STATUS_TIMEOUT;
    bool watchdog = false;
    for (;;) {
        RunDueWork();
        std::unique_lock<std::mutex> lock(state.Mutex);
        if (TryAcquire(object)) {
            status = STATUS_SUCCESS;
            break;
        }
        auto waited = std::chrono::steady_clock::now() - started;
        if (timeout != nullptr && waited >= kTimedWaitGrace) break;
        if (timeout == nullptr && waited >= std::chrono::milliseconds(state.WatchdogMs)) {
            watchdog = true;
            break;
        }
        state.Changed.wait_for(lock, kWaitSlice);
        if (TryAcquire(object)) {
            status = STATUS_SUCCESS;
            break;
        }
    }
    if (status != STATUS_SUCCESS && timeout != nullptr) {
        AdvanceTo(deadline, signalled);
        if (signalled()) status = STATUS_SUCCESS;
    }
    {
        std::lock_guard<std::mutex> lock(state.Mutex);
        state.Waited.erase(state.Waited.find(object));
    }
    if (watchdog) {
        sim::ReportViolation("KeWaitForSingleObject on " + Hex(object) +
                             " was never satisfied (no thread set it; the wait is failed)");
    }
    return status;
}
