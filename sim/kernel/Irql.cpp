// Per-thread IRQL and spin locks with real mutual exclusion between threads.
// A held lock word contains the owner's thread tag, as a real lock word is
// non-zero while held.
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/Hal.h"
#include "sim/kernel/State.h"

namespace sim {
namespace {

thread_local KIRQL currentIrql = PASSIVE_LEVEL;
thread_local std::vector<KSPIN_LOCK*> heldLocks;

// A lock held this long by someone else is a deadlock, not contention.
constexpr auto kSpinWatchdog = std::chrono::seconds(5);

KSPIN_LOCK OwnerWord()
{
    return static_cast<KSPIN_LOCK>(reinterpret_cast<uintptr_t>(detail::ThreadTag()));
}

bool Holds(KSPIN_LOCK* lock)
{
    return std::find(heldLocks.begin(), heldLocks.end(), lock) != heldLocks.end();
}

}  // namespace

KIRQL CurrentIrql()
{
    return currentIrql;
}

void SetIrql(KIRQL level)
{
    currentIrql = level;
}

IrqlScope::IrqlScope(KIRQL level) : previous_(currentIrql)
{
    currentIrql = level;
}

IrqlScope::~IrqlScope()
{
    currentIrql = previous_;
}

uint32_t HeldSpinLockCount()
{
    return static_cast<uint32_t>(heldLocks.size());
}

namespace detail {
void ForgetThreadState()
{
    currentIrql = PASSIVE_LEVEL;
    heldLocks.clear();
    SetInDpc(false);
}
}  // namespace detail

}  // namespace sim

using sim::detail::Hex;
using sim::detail::IrqlText;

extern "C" KIRQL NTAPI KeGetCurrentIrql()
{
    return sim::CurrentIrql();
}

extern "C" void NTAPI KeInitializeSpinLock(KSPIN_LOCK* spinLock)
{
    *spinLock = 0;
}

extern "C" KIRQL FASTCALL KfAcquireSpinLock(KSPIN_LOCK* spinLock)
{
    KIRQL old = sim::CurrentIrql();
    if (old > DISPATCH_LEVEL) {
        sim::ReportViolation("KfAcquireSpinLock at " + IrqlText(old) + " (above DISPATCH_LEVEL), lock " +
                             Hex(spinLock));
    }
    if (sim::Holds(spinLock)) {
        sim::ReportViolation("KfAcquireSpinLock of lock " + Hex(spinLock) +
                             " that this thread already holds (deadlock)");
        return old;
    }
    sim::SetIrql(DISPATCH_LEVEL);
    KSPIN_LOCK owner = sim::OwnerWord();
    auto started = std::chrono::steady_clock::now();
    for (;;) {
        KSPIN_LOCK expected = 0;
        if (__atomic_compare_exchange_n(spinLock, &expected, owner, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) break;
        if (std::chrono::steady_clock::now() - started > sim::kSpinWatchdog) {
            sim::ReportViolation("spin lock " + Hex(spinLock) + " held by another thread for seconds (deadlock)");
            return old;
        }
        std::this_thread::yield();
    }
    sim::heldLocks.push_back(spinLock);
    return old;
}

extern "C" void FASTCALL KfReleaseSpinLock(KSPIN_LOCK* spinLock, KIRQL newIrql)
{
    KIRQL current = sim::CurrentIrql();
    if (!sim::Holds(spinLock)) {
        sim::ReportViolation("KfReleaseSpinLock of lock " + Hex(spinLock) + " that this thread does not hold");
        return;
    }
    if (current != DISPATCH_LEVEL) {
        sim::ReportViolation("KfReleaseSpinLock at " + IrqlText(current) + " (a held spin lock means DISPATCH_LEVEL)");
    }
    if (newIrql > current) {
        sim::ReportViolation("KfReleaseSpinLock to " + IrqlText(newIrql) + ", above the current " + IrqlText(current));
        newIrql = current;
    }
    sim::heldLocks.erase(std::find(sim::heldLocks.begin(), sim::heldLocks.end(), spinLock));
    __atomic_store_n(spinLock, 0, __ATOMIC_RELEASE);
    sim::SetIrql(newIrql);
}
