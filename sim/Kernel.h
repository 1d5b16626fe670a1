// Test-facing control of the simulated kernel: the virtual clock, IRQL,
// pool bookkeeping and fault injection, device objects and IRPs, and the
// run-time checks that stand in for a driver verifier.
//
// The routines the driver imports (platform/*.h) are implemented in
// sim/kernel/; this header is what tests and the rest of the simulation use.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Kernel.h"

namespace sim {

// ---- Violations -------------------------------------------------------------
// Every check a strict kernel makes (a wait at DISPATCH_LEVEL, a double free,
// a leak, a double completion, ...) ends up here. The default handler prints
// the message and aborts; the test fixture turns violations into test
// failures, and ViolationCapture collects them where a test provokes one.
using ViolationHandler = std::function<void(const std::string& message)>;
void ReportViolation(const std::string& message);
ViolationHandler SetViolationHandler(ViolationHandler handler);  // returns the previous one

class ViolationCapture {
public:
    ViolationCapture();
    ~ViolationCapture();
    const std::vector<std::string>& Messages() const { return messages_; }
    bool Contains(const std::string& fragment) const;

private:
    mutable std::mutex mutex_;  // violations may come from other threads
    std::vector<std::string> messages_;
    ViolationHandler previous_;
};

// ---- IRQL (per thread) ------------------------------------------------------
KIRQL CurrentIrql();
void SetIrql(KIRQL level);

class IrqlScope {  // raises (or lowers) the calling thread's IRQL for a scope
public:
    explicit IrqlScope(KIRQL level);
    ~IrqlScope();

private:
    KIRQL previous_;
};

// Spin locks the calling thread holds (acquired and not yet released).
uint32_t HeldSpinLockCount();

// ---- Virtual clock ------------------------------------------------------------
// Nothing sleeps: waits advance the clock. Advancing it fires the timers that
// fall due, runs their DPCs at DISPATCH_LEVEL and then queued work items at
// PASSIVE_LEVEL, in time order, on the advancing thread.
int64_t InterruptTime();               // 100 ns units since boot, monotonic
int64_t SystemTime();                  // 100 ns units; may be set back
void SetSystemTime(int64_t time);
void AdvanceClock(int64_t interval);   // 100 ns units
void AdvanceClockMs(uint32_t milliseconds);
void RunPendingWork();                 // queued DPCs and work items, now
// A wait that nobody satisfies fails after this much real time (default 5 s).
void SetWaitWatchdog(uint32_t milliseconds);

// ---- Pool --------------------------------------------------------------------
struct PoolBlock {
    void* Address;
    size_t Size;
    POOL_TYPE Type;
    ULONG Tag;
};
std::vector<PoolBlock> OutstandingPool();
uint64_t PoolAllocationCount();  // successful allocations since Reset
uint64_t PoolFreeCount();
void FailNthAllocation(uint32_t n);          // 1 = the next allocation fails
void FailAllocationsWithTag(ULONG tag);
void ClearPoolFaults();

// ---- Device objects and IRPs ---------------------------------------------------
// A simulated device answers IofCallDriver through its dispatch routine. The
// routine either completes the IRP (CompleteRequest) and returns its status, or
// marks it pending, returns STATUS_PENDING and completes it later.
using DispatchRoutine = std::function<NTSTATUS(DEVICE_OBJECT* device, IRP* irp)>;
DEVICE_OBJECT* CreateDevice(DispatchRoutine dispatch, CCHAR stackSize = 1);
void DeleteDevice(DEVICE_OBJECT* device);
void CompleteRequest(IRP* irp);  // IoCompleteRequest: runs the completion routines upwards
void MarkIrpPending(IRP* irp);   // IoMarkIrpPending, for dispatch routines that return STATUS_PENDING
// IRPs and work items come from the pool too; these faults are counted apart
// from the pool's and cleared with ClearPoolFaults.
void FailNthIrpAllocation(uint32_t n);       // 1 = the next IoAllocateIrp fails
void FailNthWorkItemAllocation(uint32_t n);  // 1 = the next IoAllocateWorkItem fails
uint64_t OutstandingIrpCount();

// ---- Life of a test -------------------------------------------------------------
// Checks that nothing is left behind (pool, IRPs, set timers, queued DPCs and
// work items, open registry keys, ...), reporting each as a violation.
void CheckClean();
// Forgets all state: clock back to its start, IRQL PASSIVE_LEVEL, no faults.
void Reset();
// Other parts of the simulation (the registry, the stream class driver) add
// their own end-of-test checks and resets here.
void AddLifecycleHooks(std::function<void()> checkClean, std::function<void()> reset);

}  // namespace sim
