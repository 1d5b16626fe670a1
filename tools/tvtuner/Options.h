// The command line: board options (applied in the order given, later ones
// winning), output options and the command with its own options.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace tvtuner {

enum class BoardOption {
    File,
    Model,
    Address,
    InterCarrierMode,
    DefaultStandard,
    EepromAddress,
    EepromImage,
    Registry,
    TunerStatus,
    DemodulatorStatus,
};

struct BoardLayer {
    BoardOption Kind;
    std::string Option;  // as typed, for messages
    std::string Value;
};

enum class CommandKind { Scan, Run, Tune, Identify };

struct Options {
    std::vector<BoardLayer> Board;
    bool Trace = false;
    bool Json = false;
    bool Stats = false;
    std::string Vcd;

    CommandKind Command = CommandKind::Scan;
    std::string Plan;                 // scan
    std::string Script;               // run: a file, or standard input
    uint32_t Frequency = 0;           // tune
    std::optional<uint32_t> Mode;     // tune
    std::optional<uint32_t> Standard; // tune
};

// Declares everything on the app; Collect fills the options after parsing.
class CommandLine {
public:
    CommandLine();
    CLI::App& App() { return app_; }
    Options Collect() const;

private:
    CLI::App app_;
    Options parsed_;
    std::vector<std::pair<CLI::Option*, BoardOption>> boardOptions_;
    CLI::App* scan_ = nullptr;
    CLI::App* run_ = nullptr;
    CLI::App* tune_ = nullptr;
    CLI::App* identify_ = nullptr;
    std::string frequency_;
    std::string mode_;
    std::string standard_;
};

}  // namespace tvtuner
