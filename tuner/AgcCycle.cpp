// The auxiliary byte written after a standard change, and the AGC cycle that
// keeps rewriting it for the SECAM L and L' modules.
//
// The cycle's tick runs in a DPC at DISPATCH_LEVEL, where the bridge must not
// be called (its routines may wait). The tick therefore only runs the state
// machine and hands each write to a work item, which performs it at
// PASSIVE_LEVEL through the client. At most one write is outstanding: a tick
// that finds one still pending drops its own, and a write that finds the
// client in use is dropped, as a write lost on a busy bus would be.

#include "platform/KernelStreaming.h"
#include "tuner/PeriodicTimer.h"
#include "tuner/TunerDevice.h"

namespace {

// Control byte that makes the module take the following byte as its
// auxiliary byte.
constexpr uint8_t AuxiliaryControlByte = 0xDE;

// Auxiliary bytes.
constexpr uint8_t AuxiliaryDefault = 0xB0;
constexpr uint8_t AuxiliaryNoAgcCycle = 0x30;
constexpr uint8_t AgcStartByte = 0xC0;
constexpr uint8_t AgcLowByte = 0x40;
constexpr uint8_t AgcHighByte = 0x60;

constexpr uint32_t AgcPeriodMs = 10;

// States of the cycle and the ticks each wait lasts.
enum AgcStateValue : uint8_t {
    AgcIdle = 0,
    AgcWriteLow = 1,
    AgcWriteStart = 2,
    AgcWaitAfterLow = 3,
    AgcWaitAfterStart = 4,
    AgcWriteHigh = 5,
    AgcWaitAfterHigh = 6,
};
constexpr uint32_t TicksAfterLow = 3;
constexpr uint32_t TicksAfterStart = 60;
constexpr uint32_t TicksAfterHigh = 2000;

bool TakesAgcCycle(uint32_t model)
{
    return model == 12 || model == 13;
}

bool IsSecamL(uint32_t standard)
{
    return standard == KS_AnalogVideo_SECAM_L || standard == KS_AnalogVideo_SECAM_L1;
}

void FillAuxiliaryWrite(uint8_t* bytes, uint32_t divider, uint8_t auxiliaryByte)
{
    bytes[0] = uint8_t(divider >> 8);
    bytes[1] = uint8_t(divider);
    bytes[2] = AuxiliaryControlByte;
    bytes[3] = auxiliaryByte;
}

// Bits of AgcWritePending.
constexpr uint32_t WriteQueued = 1;
constexpr uint32_t TearingDown = 2;

// PASSIVE_LEVEL, on a system worker thread.
void NTAPI PerformAgcWrite(DEVICE_OBJECT*, PVOID context)
{
    TunerDevice* tuner = static_cast<TunerDevice*>(context);
    tuner->Client->WriteBytes(4, tuner->AgcWriteBytes);
    // A teardown that found this write pending waits for it and leaves the
    // item to be freed here, the one place where the item is known to be
    // done with; signalling is the last touch of the tuner object.
    IO_WORKITEM* item = tuner->AgcWorkItem;
    if (__atomic_exchange_n(&tuner->AgcWritePending, 0u, __ATOMIC_ACQ_REL) & TearingDown) {
        IoFreeWorkItem(item);
        KeSetEvent(&tuner->AgcWriteIdle, 0, FALSE);
    }
}

// DISPATCH_LEVEL, in the tick.
void QueueAgcWrite(TunerDevice& tuner, uint8_t auxiliaryByte)
{
    if (tuner.AgcWorkItem == nullptr) return;
    if (__atomic_load_n(&tuner.AgcWritePending, __ATOMIC_ACQUIRE) != 0) return;

    FillAuxiliaryWrite(tuner.AgcWriteBytes, tuner.Divider, auxiliaryByte);
    __atomic_store_n(&tuner.AgcWritePending, WriteQueued, __ATOMIC_RELEASE);
    IoQueueWorkItem(tuner.AgcWorkItem, PerformAgcWrite, DelayedWorkQueue, &tuner);
}

}  // namespace

bool TunerDevice::WriteAuxiliaryByte(uint8_t* pllWord, bool pllWriteResult)
{
    if (!StandardChanged) {
        // A plain re-tune restarts a running cycle with the new divider.
        if (HasAuxiliaryByte) AgcState = AgcWriteStart;
        return pllWriteResult;
    }
    if (!HasAuxiliaryByte) return pllWriteResult;

    uint8_t auxiliaryByte = AuxiliaryDefault;
    if (TakesAgcCycle(Model)) {
        if (CurrentMode == KSPROPERTY_TUNER_MODE_TV && IsSecamL(CurrentStandard)) {
            auxiliaryByte = AgcStartByte;
            StartAgcCycle();
        } else {
            auxiliaryByte = AuxiliaryNoAgcCycle;
            StopAgcCycle();
        }
    }
    FillAuxiliaryWrite(pllWord, Divider, auxiliaryByte);
    bool written = Client->WriteBytes(4, pllWord);
    StandardChanged = 0;
    return written;
}

void TunerDevice::StartAgcCycle()
{
    if (AgcTimer == nullptr) {
        PeriodicTimer* timer = new PeriodicTimer;
        if (timer != nullptr) {
            AgcWritePending = 0;
            AgcWorkItem = WorkItemDevice != nullptr ? IoAllocateWorkItem(WorkItemDevice) : nullptr;
            AgcTimer = timer;
            // Without its work item the cycle could write nothing; without a
            // running timer it would block every later attempt.
            if (AgcWorkItem == nullptr || !timer->StartTimer(AgcPeriodMs, true, this)) DestroyAgcTimer();
        }
    }
    AgcState = AgcWriteStart;
}

void TunerDevice::StopAgcCycle()
{
    AgcState = AgcIdle;
    DestroyAgcTimer();
}

void TunerDevice::DestroyAgcTimer()
{
    if (AgcTimer == nullptr) return;
    // Cancels the timer and waits until no DPC is queued or running, so no
    // tick queues a write from here on.
    delete AgcTimer;
    AgcTimer = nullptr;

    if (AgcWorkItem != nullptr) {
        KeInitializeEvent(&AgcWriteIdle, NotificationEvent, FALSE);
        if (__atomic_fetch_or(&AgcWritePending, TearingDown, __ATOMIC_ACQ_REL) & WriteQueued)
            KeWaitForSingleObject(&AgcWriteIdle, Executive, KernelMode, FALSE, nullptr);
        else
            IoFreeWorkItem(AgcWorkItem);
        AgcWorkItem = nullptr;
        AgcWritePending = 0;
    }
}

void TunerDevice::AgcTick()
{
    if (AgcTimer == nullptr) return;

    switch (AgcState) {
    case AgcIdle:
        AgcTickCount = 0;
        break;
    case AgcWriteLow:
        QueueAgcWrite(*this, AgcLowByte);
        AgcState = AgcWaitAfterLow;
        break;
    case AgcWriteStart:
        QueueAgcWrite(*this, AgcStartByte);
        AgcState = AgcWaitAfterStart;
        break;
    case AgcWaitAfterLow:
        if (AgcTickCount < TicksAfterLow) {
            ++AgcTickCount;
        } else {
            AgcState = AgcWriteHigh;
            AgcTickCount = 0;
        }
        break;
    case AgcWaitAfterStart:
        if (AgcTickCount < TicksAfterStart) {
            ++AgcTickCount;
        } else {
            AgcState = AgcWriteLow;
            AgcTickCount = 0;
        }
        break;
    case AgcWriteHigh:
        QueueAgcWrite(*this, AgcHighByte);
        AgcState = AgcWaitAfterHigh;
        break;
    case AgcWaitAfterHigh:
        if (AgcTickCount < TicksAfterHigh) {
            ++AgcTickCount;
        } else {
            AgcState = AgcWriteLow;
            AgcTickCount = 0;
        }
        break;
    default:
        AgcState = AgcIdle;
        break;
    }
}
