#include "sim/chips/Mt2032.h"

#include <cmath>

#include "sim/Kernel.h"

namespace sim {

namespace {

// Registers that set the two oscillators: LO1 divider and VCO band (0, 1),
// LO2 divider (5), LO2 fraction (11, 12).
bool SetsOscillator(uint8_t index)
{
    return index == 0 || index == 1 || index == 5 || index == 11 || index == 12;
}

constexpr uint32_t RadioStepHz = 50000;
constexpr uint32_t TvStepHz = 62500;

}  // namespace

Mt2032::Mt2032(RfEnvironment* rf)
    : rf_(rf), registers_(RegisterCount, 0), written_(RegisterCount, false)
{
}

bool Mt2032::Start(bool read)
{
    if (active_ && !reading_ && !transaction_.empty()) writes_.push_back(transaction_);
    transaction_.clear();
    if (!answering_) {
        active_ = false;
        return false;
    }
    active_ = true;
    reading_ = read;
    haveSubaddress_ = false;
    return true;
}

bool Mt2032::Write(uint8_t byte)
{
    if (!active_ || reading_) return false;
    if (!haveSubaddress_) {
        if (byte >= RegisterCount) return false;
        transaction_.push_back(byte);
        pointer_ = byte;
        haveSubaddress_ = true;
        return true;
    }
    if (pointer_ >= RegisterCount) return false;  // past the register file
    transaction_.push_back(byte);
    registers_[pointer_] = byte;
    written_[pointer_] = true;
    if (SetsOscillator(pointer_)) oscillatorsChanged_ = true;
    ++pointer_;
    return true;
}

uint8_t Mt2032::Read()
{
    if (!active_ || !reading_ || pointer_ >= RegisterCount) return 0xFF;
    uint8_t value = pointer_ == StatusRegister ? StatusByte() : registers_[pointer_];
    ++pointer_;
    return value;
}

void Mt2032::Stop()
{
    if (active_ && !reading_ && !transaction_.empty()) writes_.push_back(transaction_);
    transaction_.clear();
    active_ = false;
    if (oscillatorsChanged_) {
        oscillatorsChanged_ = false;
        programmed_ = true;
        programmedAt_ = InterruptTime();
        Publish();
    }
}

void Mt2032::SetSecondIf(uint32_t hz, bool fm)
{
    secondIfHz_ = hz;
    fm_ = fm;
    if (programmed_) Publish();
}

uint32_t Mt2032::N1() const
{
    return ((uint32_t(registers_[0]) + 1) << 3) | (registers_[1] & 0x07);
}

uint8_t Mt2032::VcoBand() const { return (registers_[1] >> 4) & 0x07; }

uint64_t Mt2032::Lo1Hz() const { return uint64_t(N1()) * ReferenceHz; }

uint32_t Mt2032::N2() const
{
    return (((uint32_t(registers_[5]) & 0x1F) + 1) << 3) | (registers_[5] >> 5);
}

uint32_t Mt2032::Fraction() const
{
    return registers_[11] | ((uint32_t(registers_[12]) & 0x0F) << 8);
}

double Mt2032::Lo2Hz() const
{
    return double(N2()) * ReferenceHz + double(Fraction()) * ReferenceHz / FractionUnits;
}

double Mt2032::WantedHz() const { return double(Lo1Hz()) - Lo2Hz() - secondIfHz_; }

uint8_t Mt2032::StatusByte() const
{
    if (!programmed_ || InterruptTime() - programmedAt_ < SettlingTime) return 0;
    return Lo1Locked | Lo2Locked;
}

void Mt2032::Publish()
{
    if (rf_ == nullptr) return;
    Reception& tuned = rf_->Tuned;
    double wanted = WantedHz();
    tuned.Programmed = wanted > 0;
    tuned.Fm = fm_;
    tuned.TunedHz = wanted > 0 ? uint32_t(std::llround(wanted)) : 0;
    tuned.StepHz = fm_ ? RadioStepHz : TvStepHz;
    tuned.ProgrammedAt = programmedAt_;
}

}  // namespace sim
