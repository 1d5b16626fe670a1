// The virtual clock. Nothing sleeps: a thread delay advances the clock, and
// the timers that fall due on the way fire; their DPCs run at DISPATCH_LEVEL
// on the advancing thread (as a DPC preempts a thread on a real processor),
// then the queued work items at PASSIVE_LEVEL.
#include <thread>

#include "sim/kernel/State.h"

namespace sim {

int64_t InterruptTime()
{
    detail::KernelState& state = detail::State();
    std::lock_guard<std::mutex> lock(state.Mutex);
    return state.InterruptTime;
}

int64_t SystemTime()
{
    detail::KernelState& state = detail::State();
    std::lock_guard<std::mutex> lock(state.Mutex);
    return state.InterruptTime + state.SystemTimeBias;
}

void SetSystemTime(int64_t time)
{
    detail::KernelState& state = detail::State();
    std::lock_guard<std::mutex> lock(state.Mutex);
    state.SystemTimeBias = time - state.InterruptTime;
}

void AdvanceClock(int64_t interval)
{
    if (interval < 0) {
        ReportViolation("AdvanceClock by a negative interval: the interrupt time never goes back");
        return;
    }
    detail::AdvanceTo(InterruptTime() + interval);
}

void AdvanceClockMs(uint32_t milliseconds)
{
    AdvanceClock(static_cast<int64_t>(milliseconds) * detail::kTicksPerMs);
}

void RunPendingWork()
{
    detail::RunDueWork();
}

void SetWaitWatchdog(uint32_t milliseconds)
{
    detail::KernelState& state = detail::State();
    std::lock_guard<std::mutex> lock(state.Mutex);
    state.WatchdogMs = milliseconds;
}

namespace detail {

int64_t ToInterruptTime(const KernelState& state, int64_t dueTime)
{
    if (dueTime < 0) return state.InterruptTime - dueTime;
    int64_t due = dueTime - state.SystemTimeBias;
    return due < state.InterruptTime ? state.InterruptTime : due;
}

void RunDueWork()
{
    // A DPC or work item may queue more; a self-requeuing item at one
    // instant would spin a real worker forever too, so give up loudly.
    for (int round = 0; round < 100000; ++round) {
        bool fired;
        {
            KernelState& state = State();
            std::lock_guard<std::mutex> lock(state.Mutex);
            fired = FireDueTimers(state, state.InterruptTime);
        }
        bool ran = RunQueuedDpcs();
        ran = RunQueuedWorkItems() || ran;
        if (!fired && !ran) return;
    }
    ReportViolation("DPCs or work items keep requeueing themselves without the clock advancing");
}

void AdvanceTo(int64_t target, const std::function<bool()>& done)
{
    RunDueWork();
    for (;;) {
        if (done && done()) return;
        bool reached;
        {
            KernelState& state = State();
            std::lock_guard<std::mutex> lock(state.Mutex);
            int64_t due;
            reached = !NextTimerDue(state, &due) || due > target;
            int64_t next = reached ? target : due;
            if (next > state.InterruptTime) state.InterruptTime = next;
        }
        RunDueWork();
        if (reached) return;
    }
}

}  // namespace detail
}  // namespace sim

using namespace sim::detail;

extern "C" NTSTATUS NTAPI KeDelayExecutionThread(KPROCESSOR_MODE waitMode, BOOLEAN alertable,
                                                 LARGE_INTEGER* interval)
{
    (void)waitMode;
    (void)alertable;
    KIRQL irql = sim::CurrentIrql();
    if (InDpc()) {
        sim::ReportViolation("KeDelayExecutionThread inside a DPC");
        return STATUS_SUCCESS;
    }
    if (irql > APC_LEVEL) {
        sim::ReportViolation("KeDelayExecutionThread at " + IrqlText(irql) + " (above APC_LEVEL)");
        return STATUS_SUCCESS;
    }
    if (interval == nullptr) {
        sim::ReportViolation("KeDelayExecutionThread without an interval");
        return STATUS_SUCCESS;
    }
    int64_t target;
    {
        KernelState& state = State();
        std::lock_guard<std::mutex> lock(state.Mutex);
        target = ToInterruptTime(state, interval->QuadPart);
    }
    AdvanceTo(target);
    std::this_thread::yield();  // let threads that poll alongside make progress
    return STATUS_SUCCESS;
}

extern "C" void NTAPI KeQuerySystemTime(LARGE_INTEGER* currentTime)
{
    currentTime->QuadPart = sim::SystemTime();
}

extern "C" ULONGLONG NTAPI KeQueryInterruptTime()
{
    return static_cast<ULONGLONG>(sim::InterruptTime());
}

extern "C" LARGE_INTEGER NTAPI RtlConvertLongToLargeInteger(LONG signedInteger)
{
    LARGE_INTEGER result;
    result.QuadPart = signedInteger;
    return result;
}
