// Pool memory tracked block by block, with the checks of a driver verifier
// and fault injection. New blocks are filled with a non-zero pattern so that
// code relying on zeroed memory it did not zero shows up, and freed blocks
// are filled too, so that a use after free reads garbage.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "sim/kernel/State.h"

namespace sim {
namespace {

constexpr unsigned char kNewFill = 0xA5;
constexpr unsigned char kFreedFill = 0xDF;

bool IsPaged(POOL_TYPE type)
{
    return (type & 1) != 0;
}

bool IsKnownType(POOL_TYPE type)
{
    return type >= NonPagedPool && type <= NonPagedPoolCacheAlignedMustS && type != 3;
}

std::string Describe(uintptr_t address, const detail::PoolRecord& block)
{
    return std::to_string(block.Size) + " bytes, tag " + detail::TagText(block.Tag) + ", " +
           (IsPaged(block.Type) ? "paged" : "non-paged") + " pool at " +
           detail::Hex(reinterpret_cast<void*>(address));
}

}  // namespace

std::vector<PoolBlock> OutstandingPool()
{
    detail::KernelState& state = detail::State();
    std::lock_guard<std::mutex> lock(state.Mutex);
    std::vector<std::pair<uint64_t, PoolBlock>> ordered;
    for (const auto& [address, block] : state.Pool) {
        ordered.push_back({block.Sequence, PoolBlock{reinterpret_cast<void*>(address), block.Size, block.Type, block.Tag}});
    }
    std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<PoolBlock> blocks;
    for (const auto& entry : ordered) blocks.push_back(entry.second);
    return blocks;
}

uint64_t PoolAllocationCount()
{
    detail::KernelState& state = detail::State();
    std::lock_guard<std::mutex> lock(state.Mutex);
    return state.Allocations;
}

uint64_t PoolFreeCount()
{
    detail::KernelState& state = detail::State();
    std::lock_guard<std::mutex> lock(state.Mutex);
    return state.Frees;
}

void FailNthAllocation(uint32_t n)
{
    detail::KernelState& state = detail::State();
    std::lock_guard<std::mutex> lock(state.Mutex);
    state.FailNth = n;
}

void FailAllocationsWithTag(ULONG tag)
{
    detail::KernelState& state = detail::State();
    std::lock_guard<std::mutex> lock(state.Mutex);
    state.FailTagSet = true;
    state.FailTag = tag;
}

void ClearPoolFaults()
{
    detail::KernelState& state = detail::State();
    std::lock_guard<std::mutex> lock(state.Mutex);
    state.FailNth = 0;
    state.FailIrpNth = 0;
    state.FailWorkItemNth = 0;
    state.FailTagSet = false;
}

void FailNthIrpAllocation(uint32_t n)
{
    detail::KernelState& state = detail::State();
    std::lock_guard<std::mutex> lock(state.Mutex);
    state.FailIrpNth = n;
}

void FailNthWorkItemAllocation(uint32_t n)
{
    detail::KernelState& state = detail::State();
    std::lock_guard<std::mutex> lock(state.Mutex);
    state.FailWorkItemNth = n;
}

namespace detail {

void CollectPoolLeftovers(const KernelState& state, std::vector<std::string>* problems)
{
    for (const auto& [address, block] : state.Pool) problems->push_back("pool leak: " + Describe(address, block));
}

void ResetPool(KernelState& state)
{
    for (const auto& entry : state.Pool) std::free(reinterpret_cast<void*>(entry.first));
    state.Pool.clear();
    state.FreedPool.clear();
    state.PoolSequence = 0;
    state.Allocations = 0;
    state.Frees = 0;
    state.FailNth = 0;
    state.FailIrpNth = 0;
    state.FailWorkItemNth = 0;
    state.FailTagSet = false;
}

}  // namespace detail
}  // namespace sim

extern "C" PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE poolType, size_t numberOfBytes, ULONG tag)
{
    using namespace sim::detail;
    KIRQL irql = sim::CurrentIrql();
    std::string problem;
    if (irql > DISPATCH_LEVEL) {
        problem = "ExAllocatePoolWithTag at " + IrqlText(irql) + " (above DISPATCH_LEVEL)";
    } else if (!sim::IsKnownType(poolType)) {
        problem = "ExAllocatePoolWithTag with invalid pool type " + std::to_string(poolType);
    } else if (sim::IsPaged(poolType) && irql > APC_LEVEL) {
        problem = "paged pool allocation at " + IrqlText(irql) + " (above APC_LEVEL)";
    } else if (numberOfBytes == 0) {
        problem = "zero-byte pool allocation, tag " + TagText(tag);
    }
    if (!problem.empty()) {
        sim::ReportViolation(problem);
        return nullptr;
    }

    KernelState& state = State();
    {
        std::lock_guard<std::mutex> lock(state.Mutex);
        bool fail = state.FailTagSet && state.FailTag == tag;
        if (TakeFault(&state.FailNth)) fail = true;
        if (fail) return nullptr;
    }
    void* block = std::malloc(numberOfBytes);
    if (block == nullptr) return nullptr;
    std::memset(block, sim::kNewFill, numberOfBytes);
    std::lock_guard<std::mutex> lock(state.Mutex);
    auto address = reinterpret_cast<uintptr_t>(block);
    state.Pool[address] = PoolRecord{numberOfBytes, poolType, tag, ++state.PoolSequence};
    state.FreedPool.erase(address);
    ++state.Allocations;
    return block;
}

extern "C" void NTAPI ExFreePool(PVOID p)
{
    using namespace sim::detail;
    KIRQL irql = sim::CurrentIrql();
    if (irql > DISPATCH_LEVEL) {
        sim::ReportViolation("ExFreePool at " + IrqlText(irql) + " (above DISPATCH_LEVEL) of " + Hex(p));
        return;
    }
    if (p == nullptr) {
        sim::ReportViolation("ExFreePool of a null pointer");
        return;
    }
    KernelState& state = State();
    std::vector<std::string> problems;
    bool release = false;
    size_t size = 0;
    {
        std::lock_guard<std::mutex> lock(state.Mutex);
        auto address = reinterpret_cast<uintptr_t>(p);
        auto found = state.Pool.find(address);
        if (found == state.Pool.end()) {
            if (state.FreedPool.count(address) != 0) {
                problems.push_back("double free of pool block " + Hex(p));
            } else {
                problems.push_back("ExFreePool of unknown memory " + Hex(p));
            }
        } else {
            const PoolRecord& block = found->second;
            if (sim::IsPaged(block.Type) && irql > APC_LEVEL) {
                problems.push_back("paged pool freed at " + IrqlText(irql) + ": " + sim::Describe(address, block));
            }
            size = block.Size;
            CollectObjectsInBlock(state, address, address + size, &problems);
            state.Pool.erase(found);
            state.FreedPool.insert(address);
            ++state.Frees;
            release = true;
        }
    }
    if (release) {
        std::memset(p, sim::kFreedFill, size);
        std::free(p);
    }
    ReportAll(problems);
}
