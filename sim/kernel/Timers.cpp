// Kernel timers and DPCs on the virtual clock. Set timers and queued or
// running DPCs are tracked by address in side tables, so that freeing the
// memory that holds one is caught before the kernel would touch it again.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "sim/kernel/Dispatcher.h"
#include "sim/kernel/State.h"

namespace sim::detail {
namespace {

constexpr UCHAR kDpcObject = 0x13;
constexpr UCHAR kMediumImportance = 1;

bool InRange(const void* object, uintptr_t begin, uintptr_t end)
{
    auto address = reinterpret_cast<uintptr_t>(object);
    return address >= begin && address < end;
}

void QueueDpc(KernelState& state, KDPC* dpc, PVOID argument1, PVOID argument2)
{
    DpcRecord& record = state.Dpcs[dpc];
    if (record.Queued) return;
    record.Queued = true;
    dpc->SystemArgument1 = argument1;
    dpc->SystemArgument2 = argument2;
    dpc->DpcData = &state;  // non-null while queued, as in the real object
    state.DpcQueue.push_back(dpc);
}

void Dequeue(KernelState& state, KDPC* dpc)
{
    state.DpcQueue.erase(std::remove(state.DpcQueue.begin(), state.DpcQueue.end(), dpc), state.DpcQueue.end());
    auto found = state.Dpcs.find(dpc);
    if (found == state.Dpcs.end()) return;
    found->second.Queued = false;
    if (found->second.Running == 0) state.Dpcs.erase(found);
}

bool AnyDpcRunning(const KernelState& state)
{
    for (const auto& entry : state.Dpcs) {
        if (entry.second.Running != 0) return true;
    }
    return false;
}

}  // namespace

bool NextTimerDue(const KernelState& state, int64_t* due)
{
    bool any = false;
    for (const auto& entry : state.Timers) {
        if (!any || entry.second.Due < *due) *due = entry.second.Due;
        any = true;
    }
    return any;
}

bool FireDueTimers(KernelState& state, int64_t now)
{
    std::vector<std::pair<KTIMER*, TimerRecord>> due;
    for (const auto& entry : state.Timers) {
        if (entry.second.Due <= now) due.push_back(entry);
    }
    if (due.empty()) return false;
    std::sort(due.begin(), due.end(), [](const auto& a, const auto& b) {
        return a.second.Due != b.second.Due ? a.second.Due < b.second.Due : a.second.Sequence < b.second.Sequence;
    });
    int64_t systemTime = now + state.SystemTimeBias;
    for (auto& [timer, record] : due) {
        SignalState(timer) = 1;
        if (record.PeriodMs > 0) {
            TimerRecord& live = state.Timers[timer];
            live.Due += record.PeriodMs * kTicksPerMs;
            if (live.Due <= now) live.Due = now + record.PeriodMs * kTicksPerMs;
            timer->DueTime.QuadPart = static_cast<uint64_t>(live.Due);
        } else {
            state.Timers.erase(timer);
        }
        if (record.Dpc != nullptr) {
            QueueDpc(state, record.Dpc, reinterpret_cast<PVOID>(static_cast<uintptr_t>(systemTime & 0xFFFFFFFF)),
                     reinterpret_cast<PVOID>(static_cast<uintptr_t>(systemTime >> 32)));
        }
    }
    state.Changed.notify_all();
    return true;
}

bool RunQueuedDpcs()
{
    KernelState& state = State();
    bool ran = false;
    for (;;) {
        KDPC* dpc;
        PKDEFERRED_ROUTINE routine;
        PVOID context, argument1, argument2;
        {
            std::lock_guard<std::mutex> lock(state.Mutex);
            if (state.DpcQueue.empty()) break;
            dpc = state.DpcQueue.front();
            state.DpcQueue.pop_front();
            DpcRecord& record = state.Dpcs[dpc];
            record.Queued = false;
            ++record.Running;
            record.RunningThread = ThreadTag();
            dpc->DpcData = nullptr;
            routine = dpc->DeferredRoutine;
            context = dpc->DeferredContext;
            argument1 = dpc->SystemArgument1;
            argument2 = dpc->SystemArgument2;
        }
        KIRQL previous = CurrentIrql();
        uint32_t locks = HeldSpinLockCount();
        SetIrql(DISPATCH_LEVEL);
        SetInDpc(true);
        routine(dpc, context, argument1, argument2);
        SetInDpc(false);
        KIRQL after = CurrentIrql();
        uint32_t locksAfter = HeldSpinLockCount();
        SetIrql(previous);
        {
            std::lock_guard<std::mutex> lock(state.Mutex);
            auto found = state.Dpcs.find(dpc);
            if (found != state.Dpcs.end() && --found->second.Running == 0 && !found->second.Queued) {
                state.Dpcs.erase(found);
            }
        }
        state.Changed.notify_all();
        ran = true;
        if (after != DISPATCH_LEVEL) {
            ReportViolation("DPC routine " + Hex(dpc) + " returned at " + IrqlText(after) + " instead of DISPATCH_LEVEL");
        }
        if (locksAfter != locks) ReportViolation("DPC routine " + Hex(dpc) + " returned holding a spin lock");
    }
    return ran;
}

void CollectObjectsInBlock(KernelState& state, uintptr_t begin, uintptr_t end, std::vector<std::string>* problems)
{
    for (auto entry = state.Timers.begin(); entry != state.Timers.end();) {
        bool timerFreed = InRange(entry->first, begin, end);
        if (timerFreed || InRange(entry->second.Dpc, begin, end)) {
            problems->push_back("memory freed while it holds " +
                                std::string(timerFreed ? "timer " + Hex(entry->first) : "DPC " + Hex(entry->second.Dpc)) +
                                " of a timer still set");
            entry = state.Timers.erase(entry);
        } else {
            ++entry;
        }
    }
    std::vector<KDPC*> queued;
    for (const auto& [dpc, record] : state.Dpcs) {
        if (!InRange(dpc, begin, end)) continue;
        // A DPC routine may free its own object; another thread may not.
        if (record.Running != 0 && record.RunningThread != ThreadTag()) {
            problems->push_back("memory freed while it holds DPC " + Hex(dpc) + ", which is running");
        }
        if (record.Queued) {
            problems->push_back("memory freed while it holds DPC " + Hex(dpc) + ", which is queued");
            queued.push_back(dpc);
        }
    }
    for (KDPC* dpc : queued) Dequeue(state, dpc);
    for (const void* object : state.Waited) {
        if (InRange(object, begin, end)) {
            problems->push_back("memory freed while a thread waits on object " + Hex(object));
        }
    }
}

void CollectTimerLeftovers(const KernelState& state, std::vector<std::string>* problems)
{
    for (const auto& [timer, record] : state.Timers) {
        problems->push_back("timer " + Hex(timer) + " still set (due in " +
                            std::to_string((record.Due - state.InterruptTime) / kTicksPerMs) + " ms, period " +
                            std::to_string(record.PeriodMs) + " ms)");
    }
    for (const auto& [dpc, record] : state.Dpcs) {
        if (record.Queued) problems->push_back("DPC " + Hex(dpc) + " still queued");
        if (record.Running != 0) problems->push_back("DPC " + Hex(dpc) + " still running");
    }
}

void ResetTimers(KernelState& state)
{
    state.Timers.clear();
    state.TimerSequence = 0;
    state.Dpcs.clear();
    state.DpcQueue.clear();
}

}  // namespace sim::detail

using namespace sim::detail;

extern "C" void NTAPI KeInitializeDpc(KDPC* dpc, PKDEFERRED_ROUTINE deferredRoutine, PVOID deferredContext)
{
    KernelState& state = State();
    bool queued = false;
    {
        std::lock_guard<std::mutex> lock(state.Mutex);
        auto found = state.Dpcs.find(dpc);
        if (found != state.Dpcs.end() && found->second.Queued) {
            queued = true;
            Dequeue(state, dpc);
        }
    }
    if (queued) sim::ReportViolation("KeInitializeDpc of DPC " + Hex(dpc) + " while it is queued");
    std::memset(dpc, 0, sizeof *dpc);
    dpc->Type = kDpcObject;
    dpc->Importance = kMediumImportance;
    dpc->DeferredRoutine = deferredRoutine;
    dpc->DeferredContext = deferredContext;
}

extern "C" void NTAPI KeInitializeTimerEx(KTIMER* timer, TIMER_TYPE type)
{
    KernelState& state = State();
    bool wasSet;
    {
        std::lock_guard<std::mutex> lock(state.Mutex);
        wasSet = state.Timers.erase(timer) != 0;
    }
    if (wasSet) sim::ReportViolation("KeInitializeTimerEx of timer " + Hex(timer) + " while it is set");
    if (type != NotificationTimer && type != SynchronizationTimer) {
        sim::ReportViolation("KeInitializeTimerEx with invalid type " + std::to_string(type));
    }
    std::memset(timer, 0, sizeof *timer);
    InitializeHeader(timer, type == SynchronizationTimer ? kTimerSynchronization : kTimerNotification, kTimerSize, 0);
    InitializeListHead(&timer->TimerListEntry);
}

extern "C" BOOLEAN NTAPI KeSetTimerEx(KTIMER* timer, LARGE_INTEGER dueTime, LONG period, KDPC* dpc)
{
    KIRQL irql = sim::CurrentIrql();
    std::string problem;
    if (irql > DISPATCH_LEVEL) {
        problem = "KeSetTimerEx at " + IrqlText(irql) + " (above DISPATCH_LEVEL)";
    } else if (!IsTimer(timer)) {
        problem = "KeSetTimerEx on " + Hex(timer) + ", which is not an initialized timer";
    } else if (period < 0) {
        problem = "KeSetTimerEx with negative period " + std::to_string(period);
    } else if (dpc != nullptr && dpc->Type != kDpcObject) {
        problem = "KeSetTimerEx with DPC " + Hex(dpc) + ", which is not initialized";
    }
    if (!problem.empty()) {
        sim::ReportViolation(problem);
        return FALSE;
    }
    KernelState& state = State();
    bool wasSet;
    {
        std::lock_guard<std::mutex> lock(state.Mutex);
        wasSet = state.Timers.count(timer) != 0;
        int64_t due = ToInterruptTime(state, dueTime.QuadPart);
        state.Timers[timer] = TimerRecord{due, period, dpc, ++state.TimerSequence};
        SignalState(timer) = 0;
        timer->DueTime.QuadPart = static_cast<uint64_t>(due);
        timer->Period = period;
        timer->Dpc = dpc;
    }
    state.Changed.notify_all();
    return wasSet ? TRUE : FALSE;
}

extern "C" BOOLEAN NTAPI KeCancelTimer(KTIMER* timer)
{
    KIRQL irql = sim::CurrentIrql();
    if (irql > DISPATCH_LEVEL) {
        sim::ReportViolation("KeCancelTimer at " + IrqlText(irql) + " (above DISPATCH_LEVEL)");
    }
    KernelState& state = State();
    std::lock_guard<std::mutex> lock(state.Mutex);
    return state.Timers.erase(timer) != 0 ? TRUE : FALSE;
}

extern "C" BOOLEAN NTAPI KeRemoveQueueDpc(KDPC* dpc)
{
    KernelState& state = State();
    std::lock_guard<std::mutex> lock(state.Mutex);
    auto found = state.Dpcs.find(dpc);
    if (found == state.Dpcs.end() || !found->second.Queued) return FALSE;
    dpc->DpcData = nullptr;
    Dequeue(state, dpc);
    return TRUE;
}

extern "C" void NTAPI KeFlushQueuedDpcs()
{
    KIRQL irql = sim::CurrentIrql();
    if (InDpc() || irql != PASSIVE_LEVEL) {
        sim::ReportViolation("KeFlushQueuedDpcs at " + IrqlText(irql) + (InDpc() ? " inside a DPC" : "") +
                             " (PASSIVE_LEVEL only)");
        return;
    }
    KernelState& state = State();
    auto started = std::chrono::steady_clock::now();
    for (;;) {
        RunQueuedDpcs();
        std::unique_lock<std::mutex> lock(state.Mutex);
        if (state.DpcQueue.empty() && !AnyDpcRunning(state)) return;
        if (std::chrono::steady_clock::now() - started > std::chrono::milliseconds(state.WatchdogMs)) {
            lock.unlock();
            sim::ReportViolation("KeFlushQueuedDpcs: a DPC kept running on another thread (never returned)");
            return;
        }
        state.Changed.wait_for(lock, std::chrono::milliseconds(5));
    }
}
