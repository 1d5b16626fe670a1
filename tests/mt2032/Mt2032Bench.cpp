#include "tests/mt2032/Mt2032Bench.h"

#include <gtest/gtest.h>

#include "platform/KernelStreaming.h"

namespace {

TunerOptions SynthesizerOptions()
{
    TunerOptions options;
    options.Model = Mt2032Model;
    options.Address = Mt2032Bench::Address;
    return options;
}

}  // namespace

Mt2032Bench::Mt2032Bench() : Builder(SynthesizerOptions()), Chip(Builder.Synthesizer) {}

std::vector<sim::BusSegment> Mt2032Bench::SegmentsTo(uint8_t address)
{
    std::vector<sim::BusSegment> segments;
    for (const sim::BusSegment& segment : Builder.Bus().Trace())
        if (segment.Address == (address & 0xFE)) segments.push_back(segment);
    return segments;
}

void Mt2032Bench::ClearRecords()
{
    Builder.ClearRecords();
    Chip.ClearWrites();
}

void Mt2032Bench::SelectRadioMode()
{
    TunerDevice& tuner = Tuner();
    ASSERT_TRUE(tuner.SetTunerMode(KSPROPERTY_TUNER_MODE_FM_RADIO));
    tuner.CurrentMode = KSPROPERTY_TUNER_MODE_FM_RADIO;
}
