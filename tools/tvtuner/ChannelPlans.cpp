#include "tools/tvtuner/ChannelPlans.h"

#include <cstdio>
#include <map>

#include "platform/KernelStreaming.h"

namespace tvtuner {
namespace {

constexpr uint32_t MHz(double mhz) { return uint32_t(mhz * 1000000.0 + 0.5); }

// Channels first..last at start + (n - first) * spacing.
void AddRange(ChannelPlan& plan, const char* prefix, int first, int last, double startMHz, double spacingMHz)
{
    for (int n = first; n <= last; ++n)
        plan.Channels.push_back({prefix + std::to_string(n), MHz(startMHz + (n - first) * spacingMHz)});
}

void Add(ChannelPlan& plan, const std::string& name, double mhz) { plan.Channels.push_back({name, MHz(mhz)}); }

std::map<std::string, ChannelPlan> BuildPlans()
{
    std::map<std::string, ChannelPlan> plans;

    ChannelPlan europe{"europe-bg", "Western Europe, PAL B/G: VHF E2-E12, UHF 21-69", false, KS_AnalogVideo_PAL_B, {}};
    AddRange(europe, "E", 2, 4, 48.25, 7.0);
    AddRange(europe, "E", 5, 12, 175.25, 7.0);
    AddRange(europe, "", 21, 69, 471.25, 8.0);
    plans[europe.Name] = europe;

    ChannelPlan oirt{"oirt-dk", "Eastern Europe, PAL/SECAM D/K: VHF R1-R12, UHF 21-69", false, KS_AnalogVideo_SECAM_D, {}};
    Add(oirt, "R1", 49.75);
    Add(oirt, "R2", 59.25);
    Add(oirt, "R3", 77.25);
    Add(oirt, "R4", 85.25);
    Add(oirt, "R5", 93.25);
    AddRange(oirt, "R", 6, 12, 175.25, 8.0);
    AddRange(oirt, "", 21, 69, 471.25, 8.0);
    plans[oirt.Name] = oirt;

    ChannelPlan uk{"uk-i", "United Kingdom and Ireland, PAL I: UHF 21-69", false, KS_AnalogVideo_PAL_I, {}};
    AddRange(uk, "", 21, 69, 471.25, 8.0);
    plans[uk.Name] = uk;

    // Band I carries SECAM L' (picture carrier below the sound carrier).
    ChannelPlan france{"france-l", "France, SECAM L/L': VHF 2-10, UHF 21-69", false, KS_AnalogVideo_SECAM_L, {}};
    Add(france, "2", 55.75);
    Add(france, "3", 60.50);
    Add(france, "4", 63.75);
    AddRange(france, "", 5, 10, 176.00, 8.0);
    AddRange(france, "", 21, 69, 471.25, 8.0);
    plans[france.Name] = france;

    ChannelPlan us{"us-broadcast", "United States, NTSC M broadcast: VHF 2-13, UHF 14-69", false, KS_AnalogVideo_NTSC_M, {}};
    AddRange(us, "", 2, 4, 55.25, 6.0);
    AddRange(us, "", 5, 6, 77.25, 6.0);
    AddRange(us, "", 7, 13, 175.25, 6.0);
    AddRange(us, "", 14, 69, 471.25, 6.0);
    plans[us.Name] = us;

    ChannelPlan cable{"us-cable", "United States, NTSC M standard cable: 1-125", false, KS_AnalogVideo_NTSC_M, {}};
    Add(cable, "1", 73.25);
    AddRange(cable, "", 2, 4, 55.25, 6.0);
    AddRange(cable, "", 5, 6, 77.25, 6.0);
    AddRange(cable, "", 7, 13, 175.25, 6.0);
    AddRange(cable, "", 14, 22, 121.25, 6.0);
    AddRange(cable, "", 23, 94, 217.25, 6.0);
    AddRange(cable, "", 95, 99, 91.25, 6.0);
    AddRange(cable, "", 100, 125, 649.25, 6.0);
    plans[cable.Name] = cable;

    ChannelPlan japan{"japan", "Japan, NTSC M-J: VHF 1-12, UHF 13-62", false, KS_AnalogVideo_NTSC_M_J, {}};
    AddRange(japan, "", 1, 3, 91.25, 6.0);
    AddRange(japan, "", 4, 7, 171.25, 6.0);
    AddRange(japan, "", 8, 12, 193.25, 6.0);
    AddRange(japan, "", 13, 62, 471.25, 6.0);
    plans[japan.Name] = japan;

    plans["fm"] = FmPlan(87500000, 108000000);
    plans["fm-japan"] = FmPlan(76000000, 90000000);
    plans["fm-japan"].Name = "fm-japan";
    plans["fm-japan"].Description = "FM radio, Japan: 76.0-90.0 MHz in 100 kHz steps";
    return plans;
}

const std::map<std::string, ChannelPlan>& Plans()
{
    static const std::map<std::string, ChannelPlan> plans = BuildPlans();
    return plans;
}

}  // namespace

ChannelPlan FmPlan(uint32_t minHz, uint32_t maxHz)
{
    ChannelPlan plan{"fm", "FM radio: 87.5-108.0 MHz in 100 kHz steps", true, 0, {}};
    for (uint32_t f = minHz; f <= maxHz; f += 100000) {
        char name[16];
        std::snprintf(name, sizeof name, "%u.%u", f / 1000000, (f / 100000) % 10);
        plan.Channels.push_back({name, f});
    }
    return plan;
}

std::vector<std::string> ChannelPlanNames()
{
    std::vector<std::string> names;
    for (const auto& [name, plan] : Plans()) names.push_back(name);
    return names;
}

const ChannelPlan* FindChannelPlan(const std::string& name)
{
    auto it = Plans().find(name);
    return it == Plans().end() ? nullptr : &it->second;
}

const ChannelPlan& ChannelPlanForStandard(uint32_t standard)
{
    const char* name = "europe-bg";
    if (standard & (KS_AnalogVideo_SECAM_L | KS_AnalogVideo_SECAM_L1))
        name = "france-l";
    else if (standard & KS_AnalogVideo_PAL_I)
        name = "uk-i";
    else if (standard & (KS_AnalogVideo_PAL_D | KS_AnalogVideo_SECAM_D | KS_AnalogVideo_SECAM_K | KS_AnalogVideo_SECAM_K1))
        name = "oirt-dk";
    else if (standard & KS_AnalogVideo_NTSC_M_J)
        name = "japan";
    else if (standard & (KS_AnalogVideo_NTSC_M | KS_AnalogVideo_PAL_M | KS_AnalogVideo_PAL_N))
        name = "us-broadcast";
    return *FindChannelPlan(name);
}

}  // namespace tvtuner
