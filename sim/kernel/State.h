// Shared state of the simulated kernel. One mutex guards all of it; driver
// code (DPCs, completion and dispatch routines, work items) and violation
// handlers are always called with the mutex released.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sim/Kernel.h"

namespace sim::detail {

constexpr int64_t kTicksPerMs = 10000;  // 100 ns units

struct PoolRecord {
    size_t Size;
    POOL_TYPE Type;
    ULONG Tag;
    uint64_t Sequence;
};

enum class IrpState { WithSender, InDriver, Completing, Freed };

struct IrpRecord {
    IrpState State;
    bool EverCompleted;
};

struct TimerRecord {
    int64_t Due;  // interrupt time
    LONG PeriodMs;
    KDPC* Dpc;
    uint64_t Sequence;
};

struct DpcRecord {
    bool Queued;
    uint32_t Running;
    const void* RunningThread;
};

struct WorkItemRecord {
    DEVICE_OBJECT* Device;
    PIO_WORKITEM_ROUTINE Routine;
    PVOID Context;
    bool Queued;
    uint32_t Running;
    const void* RunningThread;
    bool FreeRequested;
};

struct KernelState {
    std::mutex Mutex;
    std::condition_variable Changed;  // events set, work queued, DPCs finished

    // Clock
    int64_t InterruptTime;
    int64_t SystemTimeBias;  // system time = interrupt time + bias

    // Pool
    std::map<uintptr_t, PoolRecord> Pool;
    std::set<uintptr_t> FreedPool;
    uint64_t PoolSequence;
    uint64_t Allocations;
    uint64_t Frees;
    uint32_t FailNth;  // 0 = off
    uint32_t FailIrpNth;
    uint32_t FailWorkItemNth;
    bool FailTagSet;
    ULONG FailTag;

    // Devices and IRPs
    std::map<DEVICE_OBJECT*, DispatchRoutine> Devices;
    std::map<IRP*, IrpRecord> Irps;
    std::set<IRP*> FreedIrps;

    // Timers, DPCs, work items
    std::map<KTIMER*, TimerRecord> Timers;
    uint64_t TimerSequence;
    std::map<KDPC*, DpcRecord> Dpcs;
    std::deque<KDPC*> DpcQueue;
    std::map<IO_WORKITEM*, WorkItemRecord> WorkItems;
    std::set<IO_WORKITEM*> FreedWorkItems;
    std::deque<IO_WORKITEM*> WorkQueue;

    // Waits in progress (dispatcher objects), for frees of waited-on memory
    std::multiset<const void*> Waited;

    uint32_t WatchdogMs;
};

KernelState& State();

// Counts down an "n-th attempt fails" fault (0 = off); mutex held.
inline bool TakeFault(uint32_t* countdown)
{
    return *countdown != 0 && --*countdown == 0;
}

// Identity of the calling thread: non-zero and unique among live threads.
const void* ThreadTag();
bool InDpc();
void SetInDpc(bool inDpc);
void ForgetThreadState();  // IRQL, held spin locks, DPC flag of the caller

// Clock engine (Clock.cpp). Must be called without the mutex held.
int64_t ToInterruptTime(const KernelState& state, int64_t dueTime);  // negative relative, positive absolute
void RunDueWork();  // timers due now, queued DPCs, then queued work items
// Advances the clock to `target`, firing timers and running their DPCs and
// then work items in time order; stops early once `done` returns true.
void AdvanceTo(int64_t target, const std::function<bool()>& done = nullptr);

// Timer/DPC engine (Timers.cpp), mutex held.
bool FireDueTimers(KernelState& state, int64_t now);  // returns whether any fired
bool NextTimerDue(const KernelState& state, int64_t* due);
// DPC and work item runners (mutex not held). Return whether anything ran.
bool RunQueuedDpcs();
bool RunQueuedWorkItems();

// Checks of ExFreePool for kernel objects inside a freed block (mutex held).
void CollectObjectsInBlock(KernelState& state, uintptr_t begin, uintptr_t end, std::vector<std::string>* problems);

// Leftovers and reset of each area (mutex held).
void CollectPoolLeftovers(const KernelState& state, std::vector<std::string>* problems);
void CollectIrpLeftovers(const KernelState& state, std::vector<std::string>* problems);
void CollectTimerLeftovers(const KernelState& state, std::vector<std::string>* problems);
void CollectWorkItemLeftovers(const KernelState& state, std::vector<std::string>* problems);
void ResetPool(KernelState& state);
void ResetIrps(KernelState& state);
void ResetTimers(KernelState& state);
void ResetWorkItems(KernelState& state);

void ReportAll(const std::vector<std::string>& problems);

std::string Hex(const void* address);
std::string TagText(ULONG tag);
std::string IrqlText(KIRQL irql);

}  // namespace sim::detail
