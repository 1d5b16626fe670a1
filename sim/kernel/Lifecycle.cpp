// The end-of-test check and the reset between tests, for the kernel and for
// the other parts of the simulation that register hooks.
#include "sim/kernel/State.h"

namespace sim {
namespace {

// One minute after boot, 2026-01-15 12:00 UTC.
constexpr int64_t kBootInterruptTime = 60 * 1000 * detail::kTicksPerMs;
constexpr int64_t kStartSystemTime = 134129520000000000;
constexpr uint32_t kDefaultWatchdogMs = 5000;

struct Hooks {
    std::mutex Mutex;
    std::vector<std::function<void()>> CheckClean;
    std::vector<std::function<void()>> Reset;
};

Hooks& LifecycleHooks()
{
    static Hooks* hooks = new Hooks();
    return *hooks;
}

std::vector<std::function<void()>> Copy(std::vector<std::function<void()>> Hooks::*list)
{
    Hooks& hooks = LifecycleHooks();
    std::lock_guard<std::mutex> lock(hooks.Mutex);
    return hooks.*list;
}

}  // namespace

void AddLifecycleHooks(std::function<void()> checkClean, std::function<void()> reset)
{
    Hooks& hooks = LifecycleHooks();
    std::lock_guard<std::mutex> lock(hooks.Mutex);
    if (checkClean) hooks.CheckClean.push_back(std::move(checkClean));
    if (reset) hooks.Reset.push_back(std::move(reset));
}

void CheckClean()
{
    for (const auto& hook : Copy(&Hooks::CheckClean)) hook();
    std::vector<std::string> problems;
    if (CurrentIrql() != PASSIVE_LEVEL) {
        problems.push_back("test ends at " + detail::IrqlText(CurrentIrql()) + ", not PASSIVE_LEVEL");
    }
    if (HeldSpinLockCount() != 0) {
        problems.push_back("test ends holding " + std::to_string(HeldSpinLockCount()) + " spin lock(s)");
    }
    detail::KernelState& state = detail::State();
    {
        std::lock_guard<std::mutex> lock(state.Mutex);
        detail::CollectPoolLeftovers(state, &problems);
        detail::CollectIrpLeftovers(state, &problems);
        detail::CollectTimerLeftovers(state, &problems);
        detail::CollectWorkItemLeftovers(state, &problems);
    }
    detail::ReportAll(problems);
}

void Reset()
{
    for (const auto& hook : Copy(&Hooks::Reset)) hook();
    detail::ForgetThreadState();
    detail::KernelState& state = detail::State();
    std::lock_guard<std::mutex> lock(state.Mutex);
    detail::ResetTimers(state);
    detail::ResetWorkItems(state);
    detail::ResetIrps(state);
    detail::ResetPool(state);
    state.Waited.clear();
    state.InterruptTime = kBootInterruptTime;
    state.SystemTimeBias = kStartSystemTime - kBootInterruptTime;
    state.WatchdogMs = kDefaultWatchdogMs;
}

}  // namespace sim
