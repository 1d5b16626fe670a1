#include "tools/tvtuner/TextOutput.h"

#include <cstdio>

#include "tools/tvtuner/Values.h"

namespace tvtuner {
namespace {

bool IsFrequency(const std::string& key)
{
    return key.find("Frequency") != std::string::npos || key == "TuningGranularity" || key == "frequency";
}

bool IsStandard(const std::string& key)
{
    return key == "Standard" || key == "StandardsSupported" || key == "standard";
}

std::string ValueText(const std::string& key, const Event& value)
{
    if (value.is_object() && value.contains("Set")) {
        return "{" + value["Set"].get<std::string>() + "," + std::to_string(value["Id"].get<uint32_t>()) + "}";
    }
    if (!value.is_number_unsigned()) return value.dump();
    uint32_t number = value.get<uint32_t>();
    if (IsFrequency(key)) return FrequencyText(number);
    if (IsStandard(key)) return StandardName(number);
    if (key == "mode" || key == "Mode") return ModeName(number);
    if (key == "address") return Hex(number);
    if (key == "command") return Hex(number, 3);
    return std::to_string(number);
}

std::string Milliseconds(double us)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", us / 1000.0);
    return text;
}

std::string Bytes(const Event& data)
{
    std::string text;
    for (const Event& byte : data) text += " " + Hex(byte.get<uint32_t>()).substr(2);
    return text;
}

// A record's fields as "Name value" pairs, frequencies in MHz and standards
// by name.
std::string RecordText(const Event& record)
{
    std::string text;
    for (const auto& [key, value] : record.items())
        text += (text.empty() ? "" : "  ") + key + " " + ValueText(key, value);
    return text;
}

}  // namespace

TextOutput::TextOutput(std::ostream& out, std::ostream& errors, bool showRequests)
    : out_(out), errors_(errors), showRequests_(showRequests)
{
}

void TextOutput::Emit(const Event& event)
{
    const std::string kind = event["event"];
    if (kind == "i2c") {
        std::string line = "      i2c " + Hex(event["address"].get<uint32_t>()).substr(2) + " " +
                           event["rw"].get<std::string>() + Bytes(event["data"]);
        if (!event["ack"].get<bool>()) line += "   (not acknowledged)";
        trace_.push_back(line);
    } else if (kind == "notify") {
        const std::string what = event["kind"];
        uint32_t value = event["value"];
        std::string shown = what == "standard" ? StandardName(value) : what == "mode" ? ModeName(value) : std::to_string(value);
        trace_.push_back("      notify " + what + " " + shown);
    } else if (kind == "violation") {
        errors_ << "tvtuner: simulation check failed: " << event["message"].get<std::string>() << '\n';
    } else if (kind == "start") {
        Start(event);
    } else if (kind == "request") {
        Request(event);
    } else if (kind == "wait") {
        Wait(event);
    } else if (kind == "station") {
        stations_.push_back(event);
    } else if (kind == "scan") {
        Scan(event);
    } else if (kind == "identify") {
        Identify(event);
    } else if (kind == "tune") {
        Tune(event);
    } else if (kind == "stats") {
        Stats(event);
    }
    out_.flush();
}

void TextOutput::Flush()
{
    PrintTrace();
    out_.flush();
}

void TextOutput::PrintTrace()
{
    for (const std::string& line : trace_) out_ << line << '\n';
    trace_.clear();
}

void TextOutput::Start(const Event& event)
{
    const std::string status = event["status"];
    if (event.contains("model")) {
        out_ << "start    " << status << "  " << event["name"].get<std::string>() << " (model "
             << event["model"].get<uint32_t>() << ") at " << Hex(event["address"].get<uint32_t>()) << ", standard "
             << StandardName(event["standard"].get<uint32_t>()) << '\n';
    } else {
        out_ << "start    " << status << '\n';
        errors_ << "tvtuner: the adapter did not start: " << status << '\n';
    }
    PrintTrace();
}

void TextOutput::Request(const Event& event)
{
    const std::string status = event["status"];
    bool failed = status != "STATUS_SUCCESS";
    if (!showRequests_ && !failed) {
        trace_.clear();
        return;
    }
    std::string line = event.contains("line") ? std::to_string(event["line"].get<int>()) : "";
    line.resize(5, ' ');
    line += event["request"].get<std::string>();
    for (const auto& [key, value] : event.items()) {
        if (key == "event" || key == "line" || key == "request" || key == "status" || key == "bytes" || key == "record")
            continue;
        if ((key == "channel" || key == "country") && value == 0) continue;
        bool labelled = key == "channel" || key == "country";
        line += " " + (labelled ? key + " " : "") + (value.is_string() ? value.get<std::string>() : ValueText(key, value));
    }
    if (line.size() < 44) line.resize(44, ' ');
    out_ << line << "  " << status << '\n';
    PrintTrace();
    if (event.contains("record")) out_ << "        " << RecordText(event["record"]) << '\n';
}

void TextOutput::Wait(const Event& event)
{
    if (showRequests_) {
        std::string line = event.contains("line") ? std::to_string(event["line"].get<int>()) : "";
        line.resize(5, ' ');
        out_ << line << "wait " << event["ms"].get<uint32_t>() << " ms  (virtual time "
             << Milliseconds(double(event["time_us"].get<int64_t>())) << ")\n";
        PrintTrace();
    } else {
        trace_.clear();
    }
}

void TextOutput::Scan(const Event& event)
{
    PrintTrace();
    out_ << "\nscanned " << event["channels"].get<uint32_t>() << " channels of " << event["plan"].get<std::string>()
         << ": " << stations_.size() << (stations_.size() == 1 ? " station" : " stations") << "\n";
    if (stations_.empty()) return;
    char text[96];
    std::snprintf(text, sizeof text, "%-9s %14s %7s  %s\n", "channel", "frequency", "offset", "standard");
    out_ << text;
    for (const Event& station : stations_) {
        uint32_t standard = station["standard"];
        std::snprintf(text, sizeof text, "%-9s %14s %7d  %s\n", station["channel"].get<std::string>().c_str(),
                      FrequencyText(station["frequency"].get<uint32_t>()).c_str(), station["offset"].get<int>(),
                      standard == 0 ? "FM" : StandardName(standard).c_str());
        out_ << text;
    }
    stations_.clear();
}

void TextOutput::Identify(const Event& event)
{
    PrintTrace();
    out_ << "\nmodel      " << event["name"].get<std::string>() << " (model " << event["model"].get<uint32_t>()
         << ") at " << Hex(event["address"].get<uint32_t>()) << '\n';
    if (event["source"] == "eeprom") {
        const Event& eeprom = event["eeprom"];
        out_ << "from       the EEPROM at " << Hex(eeprom["address"].get<uint32_t>());
        if (eeprom.contains("code")) {
            out_ << ": tuner code " << Hex(eeprom["code"].get<uint32_t>()) << " (offset 0x5E), layout marker "
                 << Hex(eeprom["marker"].get<uint32_t>()) << " (offset 0x59)";
        }
        out_ << '\n';
    } else {
        out_ << "from       the registry value TunerType\n";
    }
    if (event.contains("caps")) out_ << "caps       " << RecordText(event["caps"]) << '\n';
    for (const auto& [mode, record] : event["modecaps"].items())
        out_ << "modecaps " << mode << "  " << RecordText(record) << '\n';
}

void TextOutput::Tune(const Event& event)
{
    PrintTrace();
    uint32_t standard = event["standard"];
    out_ << "\ntuned " << FrequencyText(event["frequency"].get<uint32_t>()) << " ("
         << ModeName(event["mode"].get<uint32_t>()) << (standard != 0 ? ", " + StandardName(standard) : "") << "): ";
    if (!event.contains("locked")) {
        out_ << "no status\n";
    } else if (event["locked"].get<bool>()) {
        out_ << "locked, PLLOffset " << event["offset"].get<int>() << '\n';
    } else {
        out_ << "not locked after " << event["reads"].get<uint32_t>() << " status reads\n";
    }
}

void TextOutput::Stats(const Event& event)
{
    PrintTrace();
    char text[160];
    const char* format = "%-5s %-22s %5s %9s %7s %10s %6s %6s %12s\n";
    std::snprintf(text, sizeof text, format, "line", "request", "count", "transfers", "bytes", "bus time", "allocs",
                  "frees", "virtual time");
    out_ << "\nstatistics\n" << text;
    auto row = [&](const std::string& line, const std::string& label, const Event& cost) {
        std::snprintf(text, sizeof text, format, line.c_str(), label.c_str(), cost.value("count", Event()).dump().c_str(),
                      cost["transfers"].dump().c_str(), cost["bytes"].dump().c_str(),
                      Milliseconds(cost["bus_time_us"].get<double>()).c_str(), cost["allocations"].dump().c_str(),
                      cost["frees"].dump().c_str(), Milliseconds(double(cost["virtual_time_us"].get<int64_t>())).c_str());
        out_ << text;
    };
    for (const Event& request : event["requests"])
        row(request.contains("line") ? std::to_string(request["line"].get<int>()) : "", request["request"], request);
    Event total = event["total"];
    uint64_t count = 0;
    for (const Event& request : event["requests"]) count += request["count"].get<uint64_t>();
    total["count"] = count;
    row("", "total", total);
}

}  // namespace tvtuner
