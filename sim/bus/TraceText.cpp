#include "sim/bus/TraceText.h"

#include <cstdio>

namespace sim {
namespace {

std::string Hex(uint8_t byte)
{
    char text[3];
    std::snprintf(text, sizeof(text), "%02X", byte);
    return text;
}

}  // namespace

std::string Describe(const BusSegment& segment)
{
    std::string text = segment.RepeatedStart ? "Sr " : "S ";
    text += Hex(segment.Address);
    if (!segment.AddressAcked) text += "~";
    text += segment.Read ? " R" : " W";
    for (size_t i = 0; i < segment.Data.size(); ++i) {
        text += " " + Hex(segment.Data[i]);
        if (i < segment.DataAcked.size() && !segment.DataAcked[i]) text += "~";
    }
    if (segment.Stop) text += " P";
    if (segment.Reset) text += " reset";
    return text;
}

std::vector<std::string> Describe(const std::vector<BusSegment>& trace)
{
    std::vector<std::string> lines;
    for (const BusSegment& segment : trace) lines.push_back(Describe(segment));
    return lines;
}

}  // namespace sim
