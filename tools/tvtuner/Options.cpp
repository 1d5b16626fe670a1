#include "tools/tvtuner/Options.h"

#include <map>

#include "tools/tvtuner/ChannelPlans.h"
#include "tools/tvtuner/Values.h"

namespace tvtuner {
namespace {

template <typename Parse>
CLI::Validator Checked(Parse parse, const std::string& what)
{
    return CLI::Validator(
        [parse, what](std::string& value) -> std::string {
            return parse(value) ? std::string() : "\"" + value + "\" is not " + what;
        },
        "", what);
}

const char* const Description =
    "Runs the tvtuner driver on a simulated capture board: the simulated stream class driver loads it, starts an\n"
    "adapter on the board and sends it every request as an SRB; the bridge's I2C bus carries what it sends to the\n"
    "simulated tuner module, IF demodulator and EEPROM, which answer from the board's RF environment.\n"
    "Without a board option the built-in board is used (FM1216ME at 0xC2, PAL B/G and FM stations).\n"
    "Without a command: scan.";

}  // namespace

CommandLine::CommandLine() : app_(Description, "tvtuner")
{
    app_.fallthrough();
    app_.require_subcommand(0, 1);
    app_.get_formatter()->column_width(34);

    auto board = [this](const char* name, BoardOption kind, const char* help, CLI::Validator check) {
        CLI::Option* option = app_.add_option(name)->description(help)->group("Board options (combine; later ones win)");
        option->allow_extra_args(false)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)->check(check);
        boardOptions_.emplace_back(option, kind);
    };
    auto byte = Checked([](const std::string& v) { auto n = ParseUnsigned(v); return n && *n <= 0xFF; }, "a byte");
    auto address = Checked(
        [](const std::string& v) { auto n = ParseUnsigned(v); return n && *n <= 0xFF && (*n & 1) == 0; },
        "an 8-bit I2C address (bit 0 clear)");
    board("--board", BoardOption::File, "Board file (TOML); see docs/board-files.md", CLI::ExistingFile);
    board("--model", BoardOption::Model, "Tuner model: registry \"TunerType\" and the module fitted",
          Checked([](const std::string& v) { return ParseModel(v).has_value(); }, "a tuner model"));
    board("--address", BoardOption::Address, "Tuner address: registry \"Address\" and where the module sits", address);
    board("--inter-carrier-mode", BoardOption::InterCarrierMode, "Registry \"InterCarrierMode\"",
          Checked([](const std::string& v) { return ParseUnsigned(v).has_value(); }, "a number"));
    board("--default-standard", BoardOption::DefaultStandard, "Registry \"DefaultStandard\" (name or number)",
          Checked([](const std::string& v) { return ParseUnsigned(v) || ParseStandard(v); }, "a video standard"));
    board("--eeprom-address", BoardOption::EepromAddress, "Registry \"EEPROMAddr\" and where the EEPROM sits", address);
    board("--eeprom", BoardOption::EepromImage, "EEPROM image (binary, up to 256 bytes)", CLI::ExistingFile);
    board("--registry", BoardOption::Registry, "A registry value NAME=VALUE (NAME= removes it); repeatable",
          Checked([](const std::string& v) { return v.find('=') != std::string::npos && v.front() != '='; },
                  "NAME=VALUE"));
    board("--tuner-status", BoardOption::TunerStatus, "Pin the status byte the tuner module answers", byte);
    board("--demod-status", BoardOption::DemodulatorStatus, "Pin the status byte the IF demodulator answers", byte);

    const char* output = "Output options";
    app_.add_flag("--trace", parsed_.Trace, "Show every I2C transfer and bridge notification")->group(output);
    app_.add_flag("--json", parsed_.Json, "JSON Lines on stdout, one object per event")->group(output);
    app_.add_option("--vcd", parsed_.Vcd, "Write the bus activity as a VCD waveform (scl, sda)")->group(output);
    app_.add_flag("--stats", parsed_.Stats, "Bus, pool and time cost per request and in total")->group(output);

    scan_ = app_.add_subcommand("scan", "Scan a channel plan for stations (the default command)");
    std::string plans;
    for (const std::string& name : ChannelPlanNames()) plans += (plans.empty() ? "" : ", ") + name;
    scan_->add_option("--plan", parsed_.Plan, "Channel plan: " + plans + " (default: by the board's standard)")
        ->check(CLI::IsMember(ChannelPlanNames()));

    run_ = app_.add_subcommand("run", "Run a session script, one request per line");
    run_->add_option("script", parsed_.Script, "Script file; standard input when absent or -");
    run_->footer(
        "Requests: get caps | get modecaps tv|fm | get mode | set mode tv|fm|N | get standard | set standard NAME|N\n"
        "  get frequency | set frequency HZ [channel N] [country N] | get input | set input N | get status\n"
        "  power D0|D1|D2|D3 | wait MS | stop | srb N        (# starts a comment)");

    tune_ = app_.add_subcommand("tune", "Start, select mode and standard, tune one frequency, read the status");
    tune_->add_option("frequency", frequency_, "Hz, or with a kHz or MHz suffix")
        ->required()
        ->check(Checked([](const std::string& v) { return ParseFrequency(v).has_value(); }, "a frequency"));
    tune_->add_option("--mode", mode_, "tv or fm")
        ->check(Checked([](const std::string& v) { return ParseMode(v).has_value(); }, "a tuner mode"));
    tune_->add_option("--standard", standard_, "Video standard, by name (PAL_B, SECAM_L, ...) or number")
        ->check(Checked([](const std::string& v) { return ParseStandard(v).has_value(); }, "a video standard"));

    identify_ = app_.add_subcommand("identify", "Start and show the model found, where from, its caps and mode caps");
}

Options CommandLine::Collect() const
{
    Options options = parsed_;
    std::map<const CLI::Option*, size_t> taken;
    for (const CLI::Option* option : app_.parse_order()) {
        for (const auto& [declared, kind] : boardOptions_) {
            if (declared != option) continue;
            size_t index = taken[option]++;
            if (index < option->results().size())
                options.Board.push_back(BoardLayer{kind, option->get_name(), option->results()[index]});
        }
    }
    if (run_->parsed()) options.Command = CommandKind::Run;
    if (identify_->parsed()) options.Command = CommandKind::Identify;
    if (tune_->parsed()) {
        options.Command = CommandKind::Tune;
        options.Frequency = ParseFrequency(frequency_).value_or(0);
        if (!mode_.empty()) options.Mode = ParseMode(mode_);
        if (!standard_.empty()) options.Standard = ParseStandard(standard_);
    }
    return options;
}

}  // namespace tvtuner
