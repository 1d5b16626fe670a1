// The simulated antenna input: the stations on the air and what the tuner
// module currently receives, which the tuner and IF demodulator models use
// to answer their status reads.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

struct Station {
    uint32_t FrequencyHz = 0;  // the carrier as transmitted (picture carrier for TV)
    bool Fm = false;
    uint32_t Standard = 0;     // KS_AnalogVideo_* of a TV station; 0 for FM
    uint32_t Strength = 100;   // 0 to 100
};

// Published by the tuner module model whenever it is programmed.
struct Reception {
    bool Programmed = false;
    bool Fm = false;
    uint32_t TunedHz = 0;       // local oscillator minus IF: the frequency received
    uint32_t StepHz = 62500;    // tuning step of the programmed word
    int64_t ProgrammedAt = 0;   // virtual time (100 ns) of the last new word
};

struct RfEnvironment {
    std::vector<Station> Stations;
    Reception Tuned;

    // Offset of the nearest station of the tuned mode from the tuned frequency
    // in tuning steps, rounded to the nearest step (positive: the station lies
    // above, so the client should tune up); none when nothing lies within
    // maxSteps steps.
    std::optional<int32_t> NearestOffsetSteps(int32_t maxSteps) const
    {
        if (!Tuned.Programmed || Tuned.StepHz == 0) return std::nullopt;
        std::optional<int64_t> best;
        for (const Station& s : Stations) {
            if (s.Fm != Tuned.Fm || s.Strength == 0) continue;
            int64_t delta = int64_t(s.FrequencyHz) - int64_t(Tuned.TunedHz);
            if (!best || (delta < 0 ? -delta : delta) < (*best < 0 ? -*best : *best)) best = delta;
        }
        if (!best) return std::nullopt;
        int64_t step = Tuned.StepHz;
        int64_t steps = (*best >= 0 ? *best + step / 2 : *best - step / 2) / step;
        if (steps > maxSteps || steps < -maxSteps) return std::nullopt;
        return int32_t(steps);
    }
};

}  // namespace sim
