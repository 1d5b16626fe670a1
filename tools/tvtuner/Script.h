// Session scripts: one request per line, "#" starts a comment. The whole
// script is read before anything runs, so a mistake stops it unrun.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace tvtuner {

enum class Op {
    GetCaps,
    GetModeCaps,
    GetMode,
    SetMode,
    GetStandard,
    SetStandard,
    GetFrequency,
    SetFrequency,
    GetInput,
    SetInput,
    GetStatus,
    Power,
    Wait,
    Stop,
    RawSrb,
};

struct Command {
    Op Kind = Op::GetCaps;
    int Line = 0;
    uint32_t Value = 0;    // mode, standard, frequency (Hz), input, power state, milliseconds or SRB command
    uint32_t Channel = 0;  // set frequency only
    uint32_t Country = 0;
};

// Throws UsageError naming the script, the line and the word that is wrong.
std::vector<Command> ParseScript(std::istream& in, const std::string& name);

// "set frequency", "get modecaps", "power", "wait", "srb".
std::string RequestName(Op op);

}  // namespace tvtuner
