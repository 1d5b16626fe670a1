// A kernel timer whose deferred procedure calls a tuner object's tick.
#pragma once

#include "platform/Kernel.h"
#include "platform/Types.h"

class TunerDevice;

// The timer queues the DPC that shares its block, so both live and die
// together.
struct TimerCore {
    KDPC Dpc;
    KTIMER Timer;
};
static_assert(sizeof(TimerCore) == 72 && offsetof(TimerCore, Timer) == 32, "TimerCore");

class PeriodicTimer {
public:
    // Non-paged and zero-filled; yields no object when there is no memory.
    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;

    PeriodicTimer() : Core(nullptr) {}
    // Leaves no timer set and no DPC queued or running behind.
    virtual ~PeriodicTimer();

    // First expiry period milliseconds from now; returns false, with no
    // timer, when there is no memory for the core. PASSIVE_LEVEL, since a
    // core it replaces is torn down.
    bool StartTimer(uint32_t periodMs, bool periodic, TunerDevice* target);

    TimerCore* Core;

private:
    void DestroyCore();
};

void NTAPI TimerDpc(KDPC* dpc, PVOID deferredContext, PVOID systemArgument1, PVOID systemArgument2);
