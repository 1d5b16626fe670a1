#include "sim/chips/PllTuner.h"

#include "sim/Kernel.h"
#include "sim/chips/IfDemodulator.h"

namespace sim {
namespace {

using Layout = PllTuner::BandLayout;
using Offsets = PllTuner::OffsetGroup;

struct ModuleData {
    Layout Bands;
    Offsets Status;
    uint32_t NominalIfHz;  // the IF its filter passes without a demodulator's say
};

// Model 1 switches its filters for SECAM L' by the band byte's low bits.
constexpr uint32_t SecamSwitchModel = 1;
constexpr uint8_t SecamL1Port = 0x02;
constexpr uint32_t SecamL1IfHz = 33950000;

// The modules by catalogue model; 17 is the synthesizer and has no entry of
// its own here.
constexpr ModuleData Modules[36] = {
    {Layout::HighNibble,     Offsets::OffsetPlusTwo, 38900000},  //  0
    {Layout::HighNibble,     Offsets::OffsetPlusTwo, 38900000},  //  1
    {Layout::HighNibble,     Offsets::OffsetPlusTwo, 38900000},  //  2
    {Layout::HighNibble,     Offsets::OffsetPlusTwo, 45750000},  //  3
    {Layout::HighNibble,     Offsets::OffsetPlusTwo, 45750000},  //  4
    {Layout::HighNibble,     Offsets::OffsetPlusTwo, 38900000},  //  5
    {Layout::HighNibble,     Offsets::OffsetPlusTwo, 38900000},  //  6
    {Layout::HighNibble,     Offsets::OffsetPlusTwo, 38900000},  //  7
    {Layout::HighNibble,     Offsets::OffsetPlusTwo, 38900000},  //  8
    {Layout::HighNibble,     Offsets::OffsetPlusTwo, 58750000},  //  9
    {Layout::BitPerBandTo04, Offsets::IfDemodulator, 45750000},  // 10
    {Layout::BitPerBandTo04, Offsets::IfDemodulator, 45750000},  // 11
    {Layout::BitPerBandTo04, Offsets::IfDemodulator, 38900000},  // 12
    {Layout::BitPerBandTo04, Offsets::IfDemodulator, 38900000},  // 13
    {Layout::BitPerBandTo04, Offsets::IfDemodulator, 58750000},  // 14
    {Layout::HighNibble,     Offsets::OffsetPlusTwo, 38900000},  // 15
    {Layout::HighNibble,     Offsets::OffsetPlusTwo, 38900000},  // 16
    {Layout::HighNibble,     Offsets::OffsetPlusTwo, 38900000},  // 17
    {Layout::BitPerBandTo08, Offsets::OffsetPlusTwo, 45750000},  // 18
    {Layout::BitPerBandTo08, Offsets::OffsetPlusTwo, 45750000},  // 19
    {Layout::BitPerBandTo08, Offsets::OffsetPlusTwo, 38900000},  // 20
    {Layout::BitPerBandTo08, Offsets::OffsetPlusTwo, 38900000},  // 21
    {Layout::BitPerBandTo08, Offsets::OffsetPlusTwo, 38900000},  // 22
    {Layout::BitPerBandTo08, Offsets::OffsetPlusTwo, 38900000},  // 23
    {Layout::BitPerBandTo08, Offsets::OffsetPlusTwo, 38900000},  // 24
    {Layout::BitPerBandTo08, Offsets::OffsetPlusTwo, 38900000},  // 25
    {Layout::BitPerBandTo08, Offsets::OffsetPlusTwo, 38900000},  // 26
    {Layout::HighNibble,     Offsets::OffsetPlusTwo, 38900000},  // 27
    {Layout::BitPerBandTo08, Offsets::OffsetPlusTwo, 38900000},  // 28
    {Layout::BitPerBandTo08, Offsets::FixedOffset,   45750000},  // 29
    {Layout::BitPerBandTo08, Offsets::FixedOffset,   45750000},  // 30
    {Layout::HighNibble,     Offsets::FixedOffset,   38900000},  // 31
    {Layout::BitPerBandTo08, Offsets::FixedOffset,   38900000},  // 32
    {Layout::HighNibble,     Offsets::FixedOffset,   38900000},  // 33
    {Layout::BitPerBandTo08, Offsets::FixedOffset,   38900000},  // 34
    {Layout::HighNibble,     Offsets::OffsetPlusTwo, 38900000},  // 35
};

// Local oscillator range of each band's VCO; they overlap at the crossovers.
struct Range {
    uint64_t Low;
    uint64_t High;
};
constexpr Range LowBandRange = {70000000, 240000000};
constexpr Range MidBandRange = {180000000, 520000000};
constexpr Range HighBandRange = {390000000, 920000000};

constexpr uint8_t ControlMarker = 0x80;     // bit 7 of a control byte
constexpr uint8_t TestBitsMask = 0x38;
constexpr uint8_t AuxiliaryFollows = 0x18;  // test bits 011
constexpr uint8_t RatioMask = 0x06;

// Bits 0 to 2 of a module whose status byte carries no offset.
constexpr uint8_t NoOffsetBits = 0x07;
// The AFC code with no station in reach: its end stop, +5.
constexpr uint8_t NoStationCode = 0x07;

}  // namespace

PllTuner::PllTuner(RfEnvironment* rf, uint32_t model) : rf_(rf)
{
    SetModel(model);
}

void PllTuner::SetModel(uint32_t model)
{
    const ModuleData& module = Modules[model < 36 ? model : 0];
    secamSwitch_ = model == SecamSwitchModel;
    layout_ = module.Bands;
    offsetGroup_ = module.Status;
    nominalIfHz_ = module.NominalIfHz;
}

void PllTuner::AttachDemodulator(IfDemodulator* demodulator)
{
    demodulator_ = demodulator;
    if (demodulator_) demodulator_->OnProgrammed([this] { Publish(); });
}

bool PllTuner::Start(bool read)
{
    if (active_) Stop();
    active_ = true;
    reading_ = read;
    if (!read && refusedWrites_ > 0) {
        --refusedWrites_;
        active_ = false;
        return false;
    }
    return true;
}

bool PllTuner::Write(uint8_t byte)
{
    if (!active_ || reading_) return false;
    // Pairs only: divider, then control and band (or auxiliary) byte.
    if (transaction_.size() >= 4) return false;
    transaction_.push_back(byte);
    return true;
}

uint8_t PllTuner::Read()
{
    ++statusReads_;
    return StatusByte();
}

void PllTuner::Stop()
{
    if (!active_) return;
    active_ = false;
    if (reading_ || transaction_.empty()) {
        transaction_.clear();
        return;
    }
    writes_.push_back({InterruptTime(), transaction_});

    uint64_t oscillatorBefore = Programmed() ? LocalOscillatorHz() : 0;
    // A byte without its partner is not latched.
    for (size_t i = 0; i + 1 < transaction_.size(); i += 2) TakePair(transaction_[i], transaction_[i + 1]);
    transaction_.clear();
    if (Programmed() && LocalOscillatorHz() != oscillatorBefore) programmedAt_ = InterruptTime();
    Publish();
}

void PllTuner::TakePair(uint8_t first, uint8_t second)
{
    if ((first & ControlMarker) == 0) {
        divider_ = (uint32_t(first & 0x7F) << 8) | second;
    } else if ((first & TestBitsMask) == AuxiliaryFollows) {
        auxiliary_ = second;
    } else {
        control_ = first;
        bandByte_ = second;
    }
}

std::vector<std::pair<int64_t, uint8_t>> PllTuner::AuxiliaryWrites() const
{
    std::vector<std::pair<int64_t, uint8_t>> result;
    for (const TimedWrite& write : writes_) {
        for (size_t i = 0; i + 1 < write.Bytes.size(); i += 2) {
            uint8_t first = write.Bytes[i];
            if ((first & ControlMarker) && (first & TestBitsMask) == AuxiliaryFollows)
                result.emplace_back(write.At, write.Bytes[i + 1]);
        }
    }
    return result;
}

uint32_t PllTuner::StepHz() const
{
    switch (ControlByte() & RatioMask) {
    case 0x06: return 62500;
    case 0x00: return 50000;
    case 0x02: return 31250;
    default: return 166667;
    }
}

PllTuner::Band PllTuner::SelectedBand() const
{
    if (!control_) return Band::None;
    uint8_t band = bandByte_;
    switch (layout_) {
    case BandLayout::HighNibble:
        switch (band >> 4) {
        case 0xA: return Band::Low;
        case 0x9: return Band::Mid;
        case 0x3: return Band::High;
        default: return Band::None;
        }
    case BandLayout::BitPerBandTo04:
    case BandLayout::BitPerBandTo08: {
        uint8_t highBit = layout_ == BandLayout::BitPerBandTo04 ? 0x04 : 0x08;
        uint8_t bits = band & (0x01 | 0x02 | highBit);
        if (bits == 0x01) return Band::Low;
        if (bits == 0x02) return Band::Mid;
        if (bits == highBit) return Band::High;
        return Band::None;
    }
    }
    return Band::None;
}

bool PllTuner::BandMatches() const
{
    Range range;
    switch (SelectedBand()) {
    case Band::Low: range = LowBandRange; break;
    case Band::Mid: range = MidBandRange; break;
    case Band::High: range = HighBandRange; break;
    default: return false;
    }
    uint64_t oscillator = LocalOscillatorHz();
    return oscillator >= range.Low && oscillator <= range.High;
}

uint32_t PllTuner::IntermediateHz() const
{
    if (Fm()) return FmIntermediateHz;
    if (secamSwitch_ && (bandByte_ & 0x0F) == SecamL1Port) return SecamL1IfHz;
    if (demodulator_ != nullptr && demodulator_->PictureIfHz() != 0) return demodulator_->PictureIfHz();
    return nominalIfHz_;
}

uint32_t PllTuner::ReceivedHz() const
{
    uint64_t oscillator = LocalOscillatorHz();
    uint32_t intermediate = IntermediateHz();
    return oscillator > intermediate ? uint32_t(oscillator - intermediate) : 0;
}

uint8_t PllTuner::StatusByte() const
{
    if (pinned_) return *pinned_;
    bool locked = Programmed() && InterruptTime() - programmedAt_ >= SettlingTime;

    uint8_t code = NoOffsetBits;
    if (offsetGroup_ == OffsetGroup::OffsetPlusTwo) {
        std::optional<int32_t> offset = rf_ ? rf_->NearestOffsetSteps(2) : std::nullopt;
        code = offset ? uint8_t(*offset + 2) : NoStationCode;
    }
    return (locked ? LockBit : 0) | code;
}

void PllTuner::Publish()
{
    if (rf_ == nullptr) return;
    Reception& tuned = rf_->Tuned;
    tuned.Programmed = Programmed();
    tuned.Fm = Fm();
    tuned.TunedHz = Programmed() ? ReceivedHz() : 0;
    tuned.StepHz = StepHz();
    tuned.ProgrammedAt = programmedAt_;
}

}  // namespace sim
