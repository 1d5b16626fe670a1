#include "tuner/PeriodicTimer.h"

#include "tuner/Memory.h"
#include "tuner/TunerDevice.h"

namespace {

constexpr LONG HundredNanosecondsPerMs = 10000;

}  // namespace

void* PeriodicTimer::operator new(size_t size) noexcept
{
    return AllocateZeroed(size, NonPagedPool);
}

void PeriodicTimer::operator delete(void* block) noexcept
{
    FreeMemory(block);
}

PeriodicTimer::~PeriodicTimer()
{
    DestroyCore();
}

bool PeriodicTimer::StartTimer(uint32_t periodMs, bool periodic, TunerDevice* target)
{
    DestroyCore();
    TimerCore* core = static_cast<TimerCore*>(AllocateZeroed(sizeof(TimerCore), NonPagedPool));
    if (core == nullptr) return false;

    KeInitializeDpc(&core->Dpc, TimerDpc, target);
    KeInitializeTimerEx(&core->Timer, NotificationTimer);
    // A negative due time is relative to now.
    LARGE_INTEGER dueTime = RtlConvertLongToLargeInteger(-HundredNanosecondsPerMs * LONG(periodMs));
    KeSetTimerEx(&core->Timer, dueTime, periodic ? LONG(periodMs) : 0, &core->Dpc);
    Core = core;
    return true;
}

void PeriodicTimer::DestroyCore()
{
    if (Core == nullptr) return;
    KeCancelTimer(&Core->Timer);
    // The timer may have queued its DPC already, and on another processor
    // the DPC may be running: neither may outlive the block.
    KeRemoveQueueDpc(&Core->Dpc);
    KeFlushQueuedDpcs();
    FreeMemory(Core);
    Core = nullptr;
}

void NTAPI TimerDpc(KDPC*, PVOID deferredContext, PVOID, PVOID)
{
    if (deferredContext != nullptr) static_cast<TunerDevice*>(deferredContext)->AgcTick();
}
