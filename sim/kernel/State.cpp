// The simulated kernel's global state and small helpers shared by its parts.
#include "sim/kernel/State.h"

#include <cstdio>

namespace sim::detail {

KernelState& State()
{
    static KernelState* state = [] {
        auto* s = new KernelState();  // never destroyed: threads may outlive main's statics
        s->InterruptTime = 0;
        s->SystemTimeBias = 0;
        s->PoolSequence = 0;
        s->Allocations = 0;
        s->Frees = 0;
        s->FailNth = 0;
        s->FailIrpNth = 0;
        s->FailWorkItemNth = 0;
        s->FailTagSet = false;
        s->FailTag = 0;
        s->TimerSequence = 0;
        s->WatchdogMs = 0;
        return s;
    }();
    return *state;
}

namespace {
thread_local char threadTag;
thread_local bool inDpc = false;
}  // namespace

const void* ThreadTag()
{
    return &threadTag;
}

bool InDpc()
{
    return inDpc;
}

void SetInDpc(bool value)
{
    inDpc = value;
}

void ReportAll(const std::vector<std::string>& problems)
{
    for (const std::string& problem : problems) ReportViolation(problem);
}

std::string Hex(const void* address)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(address)));
    return text;
}

std::string TagText(ULONG tag)
{
    std::string text = "'";
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((tag >> (8 * i)) & 0xFF);
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text + "'";
}

std::string IrqlText(KIRQL irql)
{
    switch (irql) {
    case PASSIVE_LEVEL: return "PASSIVE_LEVEL";
    case APC_LEVEL: return "APC_LEVEL";
    case DISPATCH_LEVEL: return "DISPATCH_LEVEL";
    default: return "IRQL " + std::to_string(irql);
    }
}

}  // namespace sim::detail
