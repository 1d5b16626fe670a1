// Broadcast and cable channel plans with their public picture carrier
// frequencies, and FM radio in 100 kHz steps, for scanning.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tvtuner {

struct Channel {
    std::string Name;
    uint32_t FrequencyHz = 0;  // picture carrier; the station frequency for FM
};

struct ChannelPlan {
    std::string Name;
    std::string Description;
    bool Fm = false;
    uint32_t Standard = 0;  // KS_AnalogVideo_* a scan of this plan selects; 0 for FM
    std::vector<Channel> Channels;
};

std::vector<std::string> ChannelPlanNames();
// Null when there is no plan of that name.
const ChannelPlan* FindChannelPlan(const std::string& name);
// The TV plan for a video standard (a single KS_AnalogVideo_* bit).
const ChannelPlan& ChannelPlanForStandard(uint32_t standard);
// FM radio from min to max in 100 kHz steps.
ChannelPlan FmPlan(uint32_t minHz, uint32_t maxHz);

}  // namespace tvtuner
