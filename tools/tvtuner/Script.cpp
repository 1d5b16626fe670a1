#include "tools/tvtuner/Script.h"

#include <functional>
#include <optional>
#include <sstream>

#include "platform/KernelStreaming.h"
#include "tools/tvtuner/UsageError.h"
#include "tools/tvtuner/Values.h"

namespace tvtuner {
namespace {

struct LineReader {
    const std::string& Name;
    int Line;
    std::vector<std::string> Words;

    [[noreturn]] void Fail(const std::string& problem) const
    {
        throw UsageError(Name + ":" + std::to_string(Line) + ": " + problem);
    }

    void Expect(size_t count, const char* usage) const
    {
        if (Words.size() != count) Fail("expected \"" + std::string(usage) + "\"");
    }

    template <typename Parse>
    uint32_t Value(size_t index, Parse parse, const char* what) const
    {
        std::optional<uint32_t> value = parse(Words[index]);
        if (!value) Fail("\"" + Words[index] + "\" is not " + what);
        return *value;
    }
};

std::optional<uint32_t> ModeValue(std::string_view text) { return ParseMode(text); }
std::optional<uint32_t> Number(std::string_view text) { return ParseUnsigned(text); }

Command ParseGet(const LineReader& reader)
{
    Command command;
    if (reader.Words.size() < 2) reader.Fail("expected what to get: caps, modecaps, mode, standard, frequency, input or status");
    const std::string what = Lowercase(reader.Words[1]);
    if (what == "modecaps") {
        reader.Expect(3, "get modecaps tv|fm");
        command.Kind = Op::GetModeCaps;
        command.Value = reader.Value(2, ModeValue, "a tuner mode (tv, fm or a number)");
        return command;
    }
    reader.Expect(2, ("get " + what).c_str());
    if (what == "caps") command.Kind = Op::GetCaps;
    else if (what == "mode") command.Kind = Op::GetMode;
    else if (what == "standard") command.Kind = Op::GetStandard;
    else if (what == "frequency") command.Kind = Op::GetFrequency;
    else if (what == "input") command.Kind = Op::GetInput;
    else if (what == "status") command.Kind = Op::GetStatus;
    else reader.Fail("cannot get \"" + reader.Words[1] + "\": caps, modecaps, mode, standard, frequency, input or status");
    return command;
}

Command ParseSet(LineReader reader)
{
    Command command;
    // "set frequency 543.25 MHz": the unit may stand apart.
    if (reader.Words.size() >= 4) {
        const std::string unit = Lowercase(reader.Words[3]);
        if (unit == "hz" || unit == "khz" || unit == "mhz") {
            reader.Words[2] += reader.Words[3];
            reader.Words.erase(reader.Words.begin() + 3);
        }
    }
    if (reader.Words.size() < 2) reader.Fail("expected what to set: mode, standard, frequency or input");
    const std::string what = Lowercase(reader.Words[1]);
    if (what == "frequency") {
        if (reader.Words.size() != 3 && reader.Words.size() != 5 && reader.Words.size() != 7)
            reader.Fail("expected \"set frequency HZ [channel N] [country N]\"");
        command.Kind = Op::SetFrequency;
        command.Value = reader.Value(2, ParseFrequency, "a frequency (Hz, or with kHz or MHz)");
        for (size_t i = 3; i < reader.Words.size(); i += 2) {
            const std::string key = Lowercase(reader.Words[i]);
            if (key == "channel") command.Channel = reader.Value(i + 1, Number, "a channel number");
            else if (key == "country") command.Country = reader.Value(i + 1, Number, "a country code");
            else reader.Fail("\"" + reader.Words[i] + "\": expected channel or country");
        }
        return command;
    }
    if (what == "mode") {
        reader.Expect(3, "set mode tv|fm|N");
        command.Kind = Op::SetMode;
        command.Value = reader.Value(2, ModeValue, "a tuner mode (tv, fm or a number)");
    } else if (what == "standard") {
        reader.Expect(3, "set standard NAME|N");
        command.Kind = Op::SetStandard;
        // Any number goes to the driver as it is; a name must be known.
        std::optional<uint32_t> value = ParseUnsigned(reader.Words[2]);
        if (!value) value = ParseStandard(reader.Words[2]);
        if (!value) reader.Fail("\"" + reader.Words[2] + "\" is not a video standard (PAL_B, NTSC_M, SECAM_L1, ... or a number)");
        command.Value = *value;
    } else if (what == "input") {
        reader.Expect(3, "set input N");
        command.Kind = Op::SetInput;
        command.Value = reader.Value(2, Number, "an input number");
    } else {
        reader.Fail("cannot set \"" + reader.Words[1] + "\": mode, standard, frequency or input");
    }
    return command;
}

Command ParseLine(const LineReader& reader)
{
    const std::string verb = Lowercase(reader.Words[0]);
    Command command;
    if (verb == "get") {
        command = ParseGet(reader);
    } else if (verb == "set") {
        command = ParseSet(reader);
    } else if (verb == "power") {
        reader.Expect(2, "power D0|D1|D2|D3");
        command.Kind = Op::Power;
        command.Value = reader.Value(1, ParsePowerState, "a device power state (D0, D1, D2 or D3)");
    } else if (verb == "wait") {
        reader.Expect(2, "wait MS");
        command.Kind = Op::Wait;
        command.Value = reader.Value(1, Number, "a number of milliseconds");
    } else if (verb == "stop") {
        reader.Expect(1, "stop");
        command.Kind = Op::Stop;
    } else if (verb == "srb") {
        reader.Expect(2, "srb N");
        command.Kind = Op::RawSrb;
        command.Value = reader.Value(1, Number, "an SRB command number");
    } else {
        reader.Fail("unknown request \"" + reader.Words[0] + "\" (get, set, power, wait, stop or srb)");
    }
    command.Line = reader.Line;
    return command;
}

}  // namespace

std::vector<Command> ParseScript(std::istream& in, const std::string& name)
{
    std::vector<Command> commands;
    std::string text;
    int line = 0;
    while (std::getline(in, text)) {
        ++line;
        if (size_t comment = text.find('#'); comment != std::string::npos) text.erase(comment);
        std::istringstream words(text);
        LineReader reader{name, line, {}};
        for (std::string word; words >> word;) reader.Words.push_back(word);
        if (reader.Words.empty()) continue;
        commands.push_back(ParseLine(reader));
    }
    if (in.bad()) throw UsageError(name + ": cannot read the script");
    return commands;
}

std::string RequestName(Op op)
{
    switch (op) {
    case Op::GetCaps: return "get caps";
    case Op::GetModeCaps: return "get modecaps";
    case Op::GetMode: return "get mode";
    case Op::SetMode: return "set mode";
    case Op::GetStandard: return "get standard";
    case Op::SetStandard: return "set standard";
    case Op::GetFrequency: return "get frequency";
    case Op::SetFrequency: return "set frequency";
    case Op::GetInput: return "get input";
    case Op::SetInput: return "set input";
    case Op::GetStatus: return "get status";
    case Op::Power: return "power";
    case Op::Wait: return "wait";
    case Op::Stop: return "stop";
    case Op::RawSrb: return "srb";
    }
    return "?";
}

}  // namespace tvtuner
