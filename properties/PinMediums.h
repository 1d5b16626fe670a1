// Which medium each pin of the tuner filter carries. The registration and the
// caps answer must agree on it, so both read it from here.
#pragma once

#include "platform/KernelStreaming.h"
#include "platform/Types.h"

enum PinMediumRole : uint32_t {
    VideoMediumRole = 0,
    TvAudioMediumRole = 1,
    RadioAudioMediumRole = 2,
    PinMediumRoleCount = 3,
};

// The pin that carries each role, by pin count. A single pin is the radio
// audio output; two pins are video and TV audio; three add radio audio.
inline constexpr int8_t PinOfRoleByPinCount[4][PinMediumRoleCount] = {
    //  video  TV audio  radio audio
    {   -1,    -1,       -1 },  // no pins
    {   -1,    -1,        0 },  // 1
    {    0,     1,       -1 },  // 2
    {    0,     1,        2 },  // 3
};

// The pin that carries a role, or -1 when no pin does (also for pin counts
// that describe no known board).
inline int32_t PinOfMediumRole(uint32_t pinCount, PinMediumRole role)
{
    if (pinCount >= 4) {
        return -1;
    }
    return PinOfRoleByPinCount[pinCount][role];
}

// The role a pin carries, or PinMediumRoleCount when it carries none.
inline PinMediumRole MediumRoleOfPin(uint32_t pinCount, uint32_t pin)
{
    for (uint32_t role = 0; role < PinMediumRoleCount; ++role) {
        if (PinOfMediumRole(pinCount, static_cast<PinMediumRole>(role)) == static_cast<int32_t>(pin)) {
            return static_cast<PinMediumRole>(role);
        }
    }
    return PinMediumRoleCount;
}

inline const GUID& MediumGuidOfRole(PinMediumRole role)
{
    switch (role) {
    case VideoMediumRole:
        return TunerVideoMediumGuid;
    case TvAudioMediumRole:
        return TunerTvAudioMediumGuid;
    default:
        return TunerRadioAudioMediumGuid;
    }
}
