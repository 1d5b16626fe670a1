// The values a person types or reads: integers, frequencies with units,
// video standards, tuner modes, model names, power states and status codes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tvtuner {

// The whole text must be one number: decimal, or with a 0x, 0o or 0b prefix;
// no sign, nothing after it, no overflow.
std::optional<uint32_t> ParseUnsigned(std::string_view text);
std::optional<int64_t> ParseSigned(std::string_view text);

// Hz, or a decimal number with a Hz, kHz or MHz suffix ("543.25MHz",
// "98.5 MHz"); the result must be a whole number of Hz.
std::optional<uint32_t> ParseFrequency(std::string_view text);
// "543.25 MHz", "98.5 MHz", "62.5 kHz".
std::string FrequencyText(uint32_t hz);

// A KS_AnalogVideo_* name without its prefix ("PAL_B", "secam-l1"), or a
// number with exactly one bit set.
std::optional<uint32_t> ParseStandard(std::string_view text);
// "PAL_B"; several bits as "NTSC_M|PAL_I"; 0 as "None".
std::string StandardName(uint32_t standard);

// "tv" or "fm" (any case), or the mode's number.
std::optional<uint32_t> ParseMode(std::string_view text);
std::string ModeName(uint32_t mode);

// A catalogue name in any case, or the index.
std::optional<uint32_t> ParseModel(std::string_view text);
std::string ModelName(uint32_t model);

// "D0" to "D3"; the DEVICE_POWER_STATE value.
std::optional<uint32_t> ParsePowerState(std::string_view text);

// The platform's name of a status code ("STATUS_SUCCESS"), or its hex form.
std::string StatusName(int32_t status);

std::string Hex(uint32_t value, int digits = 2);
std::string Lowercase(std::string_view text);

}  // namespace tvtuner
