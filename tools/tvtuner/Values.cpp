#include "tools/tvtuner/Values.h"

#include <array>
#include <cctype>
#include <cstdio>

#include "platform/Kernel.h"
#include "platform/KernelStreaming.h"
#include "platform/Status.h"
#include "tuner/ModelNames.h"

namespace tvtuner {
namespace {

struct NamedStandard {
    const char* Name;
    uint32_t Bit;
};

constexpr std::array<NamedStandard, 20> Standards = {{
    {"NTSC_M", KS_AnalogVideo_NTSC_M},       {"NTSC_M_J", KS_AnalogVideo_NTSC_M_J},
    {"NTSC_433", KS_AnalogVideo_NTSC_433},   {"PAL_B", KS_AnalogVideo_PAL_B},
    {"PAL_D", KS_AnalogVideo_PAL_D},         {"PAL_G", KS_AnalogVideo_PAL_G},
    {"PAL_H", KS_AnalogVideo_PAL_H},         {"PAL_I", KS_AnalogVideo_PAL_I},
    {"PAL_M", KS_AnalogVideo_PAL_M},         {"PAL_N", KS_AnalogVideo_PAL_N},
    {"PAL_60", KS_AnalogVideo_PAL_60},       {"SECAM_B", KS_AnalogVideo_SECAM_B},
    {"SECAM_D", KS_AnalogVideo_SECAM_D},     {"SECAM_G", KS_AnalogVideo_SECAM_G},
    {"SECAM_H", KS_AnalogVideo_SECAM_H},     {"SECAM_K", KS_AnalogVideo_SECAM_K},
    {"SECAM_K1", KS_AnalogVideo_SECAM_K1},   {"SECAM_L", KS_AnalogVideo_SECAM_L},
    {"SECAM_L1", KS_AnalogVideo_SECAM_L1},   {"PAL_N_COMBO", KS_AnalogVideo_PAL_N_COMBO},
}};

struct NamedStatus {
    const char* Name;
    NTSTATUS Status;
};

constexpr std::array<NamedStatus, 15> Statuses = {{
    {"STATUS_SUCCESS", STATUS_SUCCESS},
    {"STATUS_TIMEOUT", STATUS_TIMEOUT},
    {"STATUS_PENDING", STATUS_PENDING},
    {"STATUS_BUFFER_OVERFLOW", STATUS_BUFFER_OVERFLOW},
    {"STATUS_UNSUCCESSFUL", STATUS_UNSUCCESSFUL},
    {"STATUS_NOT_IMPLEMENTED", STATUS_NOT_IMPLEMENTED},
    {"STATUS_INVALID_PARAMETER", STATUS_INVALID_PARAMETER},
    {"STATUS_NO_SUCH_DEVICE", STATUS_NO_SUCH_DEVICE},
    {"STATUS_BUFFER_TOO_SMALL", STATUS_BUFFER_TOO_SMALL},
    {"STATUS_OBJECT_NAME_NOT_FOUND", STATUS_OBJECT_NAME_NOT_FOUND},
    {"STATUS_INSUFFICIENT_RESOURCES", STATUS_INSUFFICIENT_RESOURCES},
    {"STATUS_NOT_SUPPORTED", STATUS_NOT_SUPPORTED},
    {"STATUS_CANCELLED", STATUS_CANCELLED},
    {"STATUS_INVALID_DEVICE_STATE", STATUS_INVALID_DEVICE_STATE},
    {"STATUS_NOT_FOUND", static_cast<NTSTATUS>(0xC0000225u)},
}};

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && Lowercase(text.substr(text.size() - suffix.size())) == suffix;
}

// Standard names compare without case, with '-' and '_' alike and "'" for 1
// (SECAM L' is KS_AnalogVideo_SECAM_L1).
std::string StandardKey(std::string_view text)
{
    std::string key;
    for (char c : text) {
        if (c == '-' || c == ' ') c = '_';
        if (c == '\'') c = '1';
        key += char(std::toupper(static_cast<unsigned char>(c)));
    }
    return key;
}

}  // namespace

std::string Lowercase(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::optional<uint32_t> ParseUnsigned(std::string_view text)
{
    text = Trim(text);
    uint32_t base = 10;
    if (text.size() > 2 && text[0] == '0') {
        char prefix = char(std::tolower(static_cast<unsigned char>(text[1])));
        if (prefix == 'x') base = 16;
        if (prefix == 'o') base = 8;
        if (prefix == 'b') base = 2;
        if (base != 10) text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0 || uint32_t(digit) >= base) return std::nullopt;
        value = value * base + uint32_t(digit);
        if (value > UINT32_MAX) return std::nullopt;
    }
    return uint32_t(value);
}

std::optional<int64_t> ParseSigned(std::string_view text)
{
    text = Trim(text);
    bool negative = !text.empty() && text[0] == '-';
    if (negative || (!text.empty() && text[0] == '+')) text.remove_prefix(1);
    std::optional<uint32_t> magnitude = ParseUnsigned(text);
    if (!magnitude) return std::nullopt;
    return negative ? -int64_t(*magnitude) : int64_t(*magnitude);
}

std::optional<uint32_t> ParseFrequency(std::string_view text)
{
    text = Trim(text);
    uint64_t scale = 1;
    if (EndsWithNoCase(text, "mhz")) scale = 1000000;
    else if (EndsWithNoCase(text, "khz")) scale = 1000;
    if (EndsWithNoCase(text, "hz")) text.remove_suffix(scale == 1 ? 2 : 3);
    text = Trim(text);
    if (scale == 1) return ParseUnsigned(text);

    // Decimal digits with at most one point, computed exactly.
    uint64_t whole = 0;
    uint64_t fraction = 0;
    uint64_t fractionScale = 1;
    bool point = false;
    bool digits = false;
    for (char c : text) {
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') return std::nullopt;
        digits = true;
        if (point) {
            if (fractionScale >= 1000000000ULL) return std::nullopt;
            fraction = fraction * 10 + uint64_t(c - '0');
            fractionScale *= 10;
        } else {
            whole = whole * 10 + uint64_t(c - '0');
            if (whole > UINT32_MAX) return std::nullopt;
        }
    }
    if (!digits) return std::nullopt;
    if ((fraction * scale) % fractionScale != 0) return std::nullopt;
    uint64_t hz = whole * scale + fraction * scale / fractionScale;
    if (hz > UINT32_MAX) return std::nullopt;
    return uint32_t(hz);
}

std::string FrequencyText(uint32_t hz)
{
    char text[32];
    if (hz >= 1000000) {
        std::snprintf(text, sizeof text, "%u.%06u", hz / 1000000, hz % 1000000);
    } else if (hz >= 1000) {
        std::snprintf(text, sizeof text, "%u.%03u", hz / 1000, hz % 1000);
    } else {
        std::snprintf(text, sizeof text, "%u Hz", hz);
        return text;
    }
    std::string number = text;
    while (number.back() == '0') number.pop_back();
    if (number.back() == '.') number.pop_back();
    return number + (hz >= 1000000 ? " MHz" : " kHz");
}

std::optional<uint32_t> ParseStandard(std::string_view text)
{
    if (std::optional<uint32_t> number = ParseUnsigned(text)) {
        if (*number == 0 || (*number & (*number - 1)) != 0) return std::nullopt;
        return number;
    }
    std::string key = StandardKey(Trim(text));
    if (key.rfind("KS_ANALOGVIDEO_", 0) == 0) key = key.substr(15);
    for (const NamedStandard& standard : Standards) {
        if (key == standard.Name) return standard.Bit;
    }
    return std::nullopt;
}

std::string StandardName(uint32_t standard)
{
    if (standard == 0) return "None";
    std::string names;
    uint32_t rest = standard;
    for (const NamedStandard& named : Standards) {
        if ((standard & named.Bit) == 0) continue;
        names += (names.empty() ? "" : "|") + std::string(named.Name);
        rest &= ~named.Bit;
    }
    if (rest != 0) names += (names.empty() ? "" : "|") + Hex(rest, 8);
    return names;
}

std::optional<uint32_t> ParseMode(std::string_view text)
{
    std::string key = Lowercase(Trim(text));
    if (key == "tv") return KSPROPERTY_TUNER_MODE_TV;
    if (key == "fm") return KSPROPERTY_TUNER_MODE_FM_RADIO;
    return ParseUnsigned(text);
}

std::string ModeName(uint32_t mode)
{
    if (mode == KSPROPERTY_TUNER_MODE_TV) return "tv";
    if (mode == KSPROPERTY_TUNER_MODE_FM_RADIO) return "fm";
    return std::to_string(mode);
}

std::optional<uint32_t> ParseModel(std::string_view text)
{
    std::string key = Lowercase(Trim(text));
    for (uint32_t model = 0; model < TunerModelCount; ++model) {
        if (Lowercase(ModelName(model)) == key) return model;
    }
    std::optional<uint32_t> index = ParseUnsigned(text);
    if (index && *index < TunerModelCount) return index;
    return std::nullopt;
}

std::string ModelName(uint32_t model)
{
    if (model >= TunerModelCount) return "model " + std::to_string(model);
    std::string name;
    for (const WCHAR* c = TunerModelNames[model]; *c != 0; ++c) name += char(*c);
    return name;
}

std::optional<uint32_t> ParsePowerState(std::string_view text)
{
    std::string key = Lowercase(Trim(text));
    if (key.size() == 2 && key[0] == 'd' && key[1] >= '0' && key[1] <= '3')
        return uint32_t(PowerDeviceD0 + (key[1] - '0'));
    return std::nullopt;
}

std::string StatusName(int32_t status)
{
    for (const NamedStatus& named : Statuses) {
        if (named.Status == status) return named.Name;
    }
    return Hex(uint32_t(status), 8);
}

std::string Hex(uint32_t value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

}  // namespace tvtuner
