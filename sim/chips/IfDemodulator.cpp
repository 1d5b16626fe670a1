#include "sim/chips/IfDemodulator.h"

#include "sim/Kernel.h"

namespace sim {
namespace {

// Switching-mode register (0).
constexpr uint8_t SplitSoundBit = 0x04;
constexpr uint8_t ModeMask = 0x18;
constexpr uint8_t ModePositiveTv = 0x00;
constexpr uint8_t ModeNegativeTv = 0x10;
constexpr uint8_t ModeFmRadio = 0x18;

// Data register (2): bits 0 and 1 the sound carrier, bits 2 to 4 the VIF.
constexpr uint32_t SoundCarriers[4] = {4500000, 5500000, 6000000, 6500000};
constexpr uint32_t PictureIfs[8] = {58750000, 45750000, 38900000, 0, 33950000, 0, 0, 0};

// Offset in steps that each code stands for, by table.
constexpr int8_t Models10To14Offsets[16] = {0, 1, 1, 1, 2, 2, 2, 2, -2, -2, -2, -2, -1, -1, -1, 0};
constexpr int8_t Mt2032TvOffsets[16] = {0, 0, 1, 1, 1, 2, 2, 2, -2, -2, -2, -1, -1, -1, 0, 0};
constexpr int8_t Mt2032FmOffsets[16] = {0, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, -2, -2, -1, -1, 0};

// What the AFC gives with no carrier in its window: its end stop.
constexpr int32_t NoStationOffset = 2;

}  // namespace

IfDemodulator::IfDemodulator(RfEnvironment* rf) : rf_(rf) {}

bool IfDemodulator::Start(bool read)
{
    if (!transaction_.empty() || haveSubaddress_) Stop();
    reading_ = read;
    if (!read && refusedWrites_ > 0) {
        --refusedWrites_;
        return false;
    }
    return true;
}

bool IfDemodulator::Write(uint8_t byte)
{
    if (reading_) return false;
    transaction_.push_back(byte);
    if (!haveSubaddress_) {
        if (byte >= RegisterCount) return false;
        haveSubaddress_ = true;
        pointer_ = byte;
        return true;
    }
    if (pointer_ >= RegisterCount) return false;
    registers_[pointer_++] = byte;
    changed_ = true;
    return true;
}

uint8_t IfDemodulator::Read()
{
    ++statusReads_;
    return StatusByte();
}

void IfDemodulator::Stop()
{
    if (!transaction_.empty()) writes_.push_back(transaction_);
    transaction_.clear();
    haveSubaddress_ = false;
    reading_ = false;
    if (changed_) {
        changed_ = false;
        programmed_ = true;
        if (listener_) listener_();
    }
}

IfDemodulator::Group IfDemodulator::StandardGroup() const
{
    if (!programmed_) return Group::NotProgrammed;
    switch (registers_[0] & ModeMask) {
    case ModePositiveTv: return Group::PositiveTv;
    case ModeNegativeTv: return Group::NegativeTv;
    case ModeFmRadio: return Group::FmRadio;
    default: return Group::Unknown;
    }
}

bool IfDemodulator::Intercarrier() const
{
    return (registers_[0] & SplitSoundBit) == 0;
}

uint32_t IfDemodulator::PictureIfHz() const
{
    Group group = StandardGroup();
    if (group != Group::NegativeTv && group != Group::PositiveTv) return 0;
    return PictureIfs[(registers_[2] >> 2) & 7];
}

uint32_t IfDemodulator::SoundCarrierHz() const
{
    return SoundCarriers[registers_[2] & 3];
}

std::string IfDemodulator::StandardName() const
{
    Group group = StandardGroup();
    if (group == Group::FmRadio) return "FM";
    uint32_t pictureIf = PictureIfHz();
    uint32_t sound = SoundCarrierHz();
    if (group == Group::NegativeTv) {
        if (sound == 4500000 && pictureIf == 45750000) return "M";
        if (sound == 4500000 && pictureIf == 58750000) return "M/J";
        if (sound == 5500000 && pictureIf == 38900000) return "B/G";
        if (sound == 6000000 && pictureIf == 38900000) return "I";
        if (sound == 6500000 && pictureIf == 38900000) return "D/K";
    }
    if (group == Group::PositiveTv && sound == 6500000) {
        if (pictureIf == 38900000) return "L";
        if (pictureIf == 33950000) return "L'";
    }
    return "?";
}

uint8_t IfDemodulator::StatusByte() const
{
    if (pinned_) return *pinned_;

    CodeTable table = table_;
    if (table == CodeTable::Mt2032) table = rf_ && rf_->Tuned.Fm ? CodeTable::Mt2032Fm : CodeTable::Mt2032Tv;

    std::optional<int32_t> offset;
    bool ready = programmed_;
    if (rf_ != nullptr) {
        offset = rf_->NearestOffsetSteps(2);
        const Reception& tuned = rf_->Tuned;
        if (!tuned.Programmed || InterruptTime() - tuned.ProgrammedAt < SettlingTime) ready = false;
    }
    if (!programmed_) offset.reset();
    return uint8_t(CodeFor(table, offset) << 1) | (ready ? 0 : NotReadyBit);
}

uint8_t IfDemodulator::CodeFor(CodeTable table, std::optional<int32_t> offsetSteps)
{
    // Without a reception to follow, the synthesizer's table means TV.
    const int8_t* offsets = table == CodeTable::Mt2032Fm       ? Mt2032FmOffsets
                            : table == CodeTable::Models10To14 ? Models10To14Offsets
                                                               : Mt2032TvOffsets;
    int32_t wanted = offsetSteps.value_or(NoStationOffset);
    for (uint8_t code = 0; code < 16; ++code) {
        if (offsets[code] == wanted) return code;
    }
    return 0;
}

}  // namespace sim
