// tvtuner: the driver on a simulated board, from the command line.
// Exit status: 0 when every request succeeded, 1 when a request or the start
// failed (or a check of the simulation did), 2 for a usage error.
#include <fstream>
#include <iostream>
#include <memory>

#include "tools/tvtuner/BoardLayers.h"
#include "tools/tvtuner/ChannelPlans.h"
#include "tools/tvtuner/Identify.h"
#include "tools/tvtuner/JsonOutput.h"
#include "tools/tvtuner/Options.h"
#include "tools/tvtuner/Requests.h"
#include "tools/tvtuner/Scan.h"
#include "tools/tvtuner/Script.h"
#include "tools/tvtuner/Session.h"
#include "tools/tvtuner/TextOutput.h"
#include "tools/tvtuner/Tune.h"
#include "tools/tvtuner/UsageError.h"
#include "tools/tvtuner/Waveform.h"

namespace tvtuner {
namespace {

constexpr int ExitSuccess = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

std::vector<Command> ReadScript(const std::string& path)
{
    if (path.empty() || path == "-" || path == "/dev/stdin") return ParseScript(std::cin, "<stdin>");
    std::ifstream file(path);
    if (!file) throw UsageError(path + ": cannot read the script");
    return ParseScript(file, path);
}

int Run(const Options& options)
{
    BoardSetup board = BuildBoard(options.Board);
    std::vector<Command> script;
    if (options.Command == CommandKind::Run) script = ReadScript(options.Script);
    std::ofstream waveform;
    if (!options.Vcd.empty()) {
        waveform.open(options.Vcd, std::ios::binary);
        if (!waveform) throw UsageError("--vcd: cannot write \"" + options.Vcd + "\"");
    }

    bool showRequests = options.Trace || options.Command == CommandKind::Run || options.Command == CommandKind::Tune;
    std::unique_ptr<EventSink> output;
    if (options.Json) output = std::make_unique<JsonOutput>(std::cout);
    else output = std::make_unique<TextOutput>(std::cout, std::cerr, showRequests);
    EventFanout events;
    events.Add(output.get());

    Session session(board, events, options.Trace);
    switch (options.Command) {
    case CommandKind::Scan:
        Scan(session, events, options.Plan.empty() ? nullptr : FindChannelPlan(options.Plan));
        break;
    case CommandKind::Run:
        if (session.Start()) ExecuteAll(session, script);
        break;
    case CommandKind::Tune: Tune(session, events, options.Frequency, options.Mode, options.Standard); break;
    case CommandKind::Identify: Identify(session, events); break;
    }
    session.Finish();

    if (options.Stats) events.Emit(session.Stats().ToEvent());
    if (waveform.is_open()) WriteWaveform(waveform, session.Segments(), session.BusClockHz());
    events.Flush();
    return session.Failed() ? ExitFailed : ExitSuccess;
}

}  // namespace
}  // namespace tvtuner

int main(int argc, char** argv)
{
    tvtuner::CommandLine commandLine;
    try {
        commandLine.App().parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int code = commandLine.App().exit(error);
        return code == 0 ? tvtuner::ExitSuccess : tvtuner::ExitUsage;
    }
    try {
        return tvtuner::Run(commandLine.Collect());
    } catch (const tvtuner::UsageError& error) {
        std::cerr << "tvtuner: " << error.what() << '\n';
        return tvtuner::ExitUsage;
    }
}
