// I/O work items. Queued items run at PASSIVE_LEVEL, in queue order, after
// the DPCs of the same virtual instant, on the thread that advances the
// clock, waits, or calls RunPendingWork (standing in for a system worker).
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "sim/kernel/State.h"

namespace sim::detail {
namespace {

constexpr size_t kItemSize = 16;  // opaque to the driver
constexpr unsigned char kFreedFill = 0xDF;

void Release(IO_WORKITEM* item)
{
    std::memset(item, kFreedFill, kItemSize);
    std::free(item);
}

}  // namespace

bool RunQueuedWorkItems()
{
    KernelState& state = State();
    bool ran = false;
    for (;;) {
        IO_WORKITEM* item;
        WorkItemRecord run;
        {
            std::lock_guard<std::mutex> lock(state.Mutex);
            if (state.WorkQueue.empty()) break;
            item = state.WorkQueue.front();
            state.WorkQueue.pop_front();
            WorkItemRecord& record = state.WorkItems[item];
            record.Queued = false;
            ++record.Running;
            record.RunningThread = ThreadTag();
            run = record;
        }
        KIRQL previous = CurrentIrql();
        uint32_t locks = HeldSpinLockCount();
        SetIrql(PASSIVE_LEVEL);
        run.Routine(run.Device, run.Context);
        KIRQL after = CurrentIrql();
        uint32_t locksAfter = HeldSpinLockCount();
        SetIrql(previous);
        bool release = false;
        {
            std::lock_guard<std::mutex> lock(state.Mutex);
            auto found = state.WorkItems.find(item);
            if (found != state.WorkItems.end() && --found->second.Running == 0) {
                found->second.RunningThread = nullptr;
                if (found->second.FreeRequested) {
                    state.WorkItems.erase(found);
                    state.FreedWorkItems.insert(item);
                    release = true;
                }
            }
        }
        if (release) Release(item);
        state.Changed.notify_all();
        ran = true;
        if (after != PASSIVE_LEVEL) {
            ReportViolation("work item routine of " + Hex(item) + " returned at " + IrqlText(after));
        }
        if (locksAfter != locks) ReportViolation("work item routine of " + Hex(item) + " returned holding a spin lock");
    }
    return ran;
}

void CollectWorkItemLeftovers(const KernelState& state, std::vector<std::string>* problems)
{
    for (const auto& [item, record] : state.WorkItems) {
        problems->push_back("work item " + Hex(item) + (record.Queued ? " still queued" : " never freed"));
    }
}

void ResetWorkItems(KernelState& state)
{
    for (const auto& entry : state.WorkItems) {
        if (entry.second.Running == 0) std::free(entry.first);
    }
    state.WorkItems.clear();
    state.FreedWorkItems.clear();
    state.WorkQueue.clear();
}

}  // namespace sim::detail

using namespace sim::detail;

extern "C" IO_WORKITEM* NTAPI IoAllocateWorkItem(DEVICE_OBJECT* deviceObject)
{
    KIRQL irql = sim::CurrentIrql();
    std::string problem;
    KernelState& state = State();
    {
        std::lock_guard<std::mutex> lock(state.Mutex);
        if (irql > DISPATCH_LEVEL) {
            problem = "IoAllocateWorkItem at " + IrqlText(irql) + " (above DISPATCH_LEVEL)";
        } else if (deviceObject == nullptr) {
            problem = "IoAllocateWorkItem without a device object";
        } else if (state.Devices.count(deviceObject) == 0) {
            problem = "IoAllocateWorkItem for unknown device object " + Hex(deviceObject);
        } else if (TakeFault(&state.FailWorkItemNth)) {
            return nullptr;
        }
    }
    if (!problem.empty()) {
        sim::ReportViolation(problem);
        return nullptr;
    }
    auto* item = static_cast<IO_WORKITEM*>(std::malloc(kItemSize));
    std::memset(item, 0xA5, kItemSize);
    std::lock_guard<std::mutex> lock(state.Mutex);
    state.WorkItems[item] = WorkItemRecord{deviceObject, nullptr, nullptr, false, 0, nullptr, false};
    state.FreedWorkItems.erase(item);
    return item;
}

extern "C" void NTAPI IoQueueWorkItem(IO_WORKITEM* item, PIO_WORKITEM_ROUTINE routine, WORK_QUEUE_TYPE queueType,
                                      PVOID context)
{
    KIRQL irql = sim::CurrentIrql();
    std::string problem;
    KernelState& state = State();
    {
        std::lock_guard<std::mutex> lock(state.Mutex);
        auto found = state.WorkItems.find(item);
        if (irql > DISPATCH_LEVEL) {
            problem = "IoQueueWorkItem at " + IrqlText(irql) + " (above DISPATCH_LEVEL)";
        } else if (found == state.WorkItems.end() || found->second.FreeRequested) {
            problem = (state.FreedWorkItems.count(item) || found != state.WorkItems.end()
                           ? "IoQueueWorkItem of freed work item "
                           : "IoQueueWorkItem of unknown work item ") +
                      Hex(item);
        } else if (found->second.Queued) {
            problem = "IoQueueWorkItem of work item " + Hex(item) + ", which is already queued";
        } else if (routine == nullptr) {
            problem = "IoQueueWorkItem without a routine";
        } else if (queueType < CriticalWorkQueue || queueType > HyperCriticalWorkQueue) {
            problem = "IoQueueWorkItem with invalid queue type " + std::to_string(queueType);
        } else {
            WorkItemRecord& record = found->second;
            record.Routine = routine;
            record.Context = context;
            record.Queued = true;
            state.WorkQueue.push_back(item);
        }
    }
    if (!problem.empty()) {
        sim::ReportViolation(problem);
        return;
    }
    state.Changed.notify_all();
}

extern "C" void NTAPI IoFreeWorkItem(IO_WORKITEM* item)
{
    KIRQL irql = sim::CurrentIrql();
    std::string problem;
    bool release = false;
    KernelState& state = State();
    {
        std::lock_guard<std::mutex> lock(state.Mutex);
        auto found = state.WorkItems.find(item);
        if (irql > DISPATCH_LEVEL) {
            problem = "IoFreeWorkItem at " + IrqlText(irql) + " (above DISPATCH_LEVEL)";
        } else if (found == state.WorkItems.end() || found->second.FreeRequested) {
            problem = (state.FreedWorkItems.count(item) || found != state.WorkItems.end() ? "work item freed twice: "
                                                                                           : "IoFreeWorkItem of unknown work item ") +
                      Hex(item);
        } else if (found->second.Queued) {
            problem = "IoFreeWorkItem of work item " + Hex(item) + ", which is still queued";
            found->second.Queued = false;
            state.WorkQueue.erase(std::remove(state.WorkQueue.begin(), state.WorkQueue.end(), item),
                                  state.WorkQueue.end());
            found->second.FreeRequested = true;
            if (found->second.Running == 0) {
                state.WorkItems.erase(found);
                state.FreedWorkItems.insert(item);
                release = true;
            }
        } else if (found->second.Running != 0 && found->second.RunningThread != ThreadTag()) {
            problem = "IoFreeWorkItem of work item " + Hex(item) + " while its routine runs on another thread";
            found->second.FreeRequested = true;
        } else if (found->second.Running != 0) {
            // Freeing the item from its own routine is the documented pattern;
            // the memory goes when the routine returns.
            found->second.FreeRequested = true;
        } else {
            state.WorkItems.erase(found);
            state.FreedWorkItems.insert(item);
            release = true;
        }
    }
    if (release) Release(item);
    if (!problem.empty()) sim::ReportViolation(problem);
}
