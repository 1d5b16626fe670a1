// Simulated PLL tuner module at the tuner address. A write carries pairs of
// bytes: a pair whose first byte has bit 7 clear is the 15-bit divider, one
// with bit 7 set is the control byte and the band byte, or, when the control
// byte's test bits are 011, the control byte and the auxiliary byte. The
// module decodes its local oscillator, band and auxiliary byte from them,
// publishes what it receives, and answers a one-byte status read: bit 6 the
// synthesizer's lock, bits 0 to 2 the AFC offset code.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/I2cDevice.h"
#include "sim/RfEnvironment.h"

namespace sim {

class IfDemodulator;

class PllTuner : public I2cDevice {
public:
    static constexpr uint8_t LockBit = 0x40;
    static constexpr uint8_t OffsetCodeMask = 0x07;
    // The loop locks this long after a new divider or step.
    static constexpr int64_t SettlingTime = 50000;  // 5 ms in 100 ns units
    static constexpr uint32_t FmIntermediateHz = 10700000;

    enum class Band { None, Low, Mid, High };

    // How a module reports its AFC offset in the status byte.
    enum class OffsetGroup {
        OffsetPlusTwo,    // bits 0 to 2 = offset in steps + 2
        FixedOffset,      // bits 0 to 2 carry no offset
        IfDemodulator,    // the offset comes from the IF demodulator
    };

    // How the band byte selects the band.
    enum class BandLayout {
        HighNibble,      // 0xA_ low, 0x9_ mid, 0x3_ high
        BitPerBandTo04,  // bit 0 low, bit 1 mid, bit 2 high
        BitPerBandTo08,  // bit 0 low, bit 1 mid, bit 3 high
    };

    struct TimedWrite {
        int64_t At;  // virtual time, 100 ns units
        std::vector<uint8_t> Bytes;
    };

    // Configured as the module of a catalogue model (any but 17).
    PllTuner(RfEnvironment* rf, uint32_t model);

    // ---- Bus side ----
    bool Start(bool read) override;
    bool Write(uint8_t byte) override;
    uint8_t Read() override;
    void Stop() override;

    // ---- Backend for tests and the board ----
    void SetModel(uint32_t model);
    void SetOffsetGroup(OffsetGroup group) { offsetGroup_ = group; }
    // The picture IF then follows the demodulator's programmed standard.
    void AttachDemodulator(IfDemodulator* demodulator);
    void PinStatus(std::optional<uint8_t> status) { pinned_ = status; }
    void RefuseNextWrites(uint32_t count) { refusedWrites_ = count; }

    OffsetGroup Group() const { return offsetGroup_; }
    uint32_t NominalIfHz() const { return nominalIfHz_; }

    // Every completed write transaction with its time.
    const std::vector<TimedWrite>& Writes() const { return writes_; }
    void ClearWrites() { writes_.clear(); }
    // The auxiliary bytes received, in order, with their times.
    std::vector<std::pair<int64_t, uint8_t>> AuxiliaryWrites() const;
    uint32_t StatusReads() const { return statusReads_; }

    // Decoded state.
    bool Programmed() const { return divider_.has_value() && control_.has_value(); }
    uint32_t Divider() const { return divider_.value_or(0); }
    uint8_t ControlByte() const { return control_.value_or(0); }
    uint8_t BandByte() const { return bandByte_; }
    std::optional<uint8_t> AuxiliaryByte() const { return auxiliary_; }
    uint32_t StepHz() const;  // by the control byte's ratio bits
    bool Fm() const { return StepHz() == 50000; }
    uint64_t LocalOscillatorHz() const { return uint64_t(Divider()) * StepHz(); }
    Band SelectedBand() const;
    // Whether the local oscillator lies in the range of the band selected.
    bool BandMatches() const;
    uint32_t IntermediateHz() const;
    // Local oscillator minus IF: the frequency received.
    uint32_t ReceivedHz() const;
    uint8_t StatusByte() const;

private:
    void TakePair(uint8_t first, uint8_t second);
    void Publish();

    RfEnvironment* rf_;
    IfDemodulator* demodulator_ = nullptr;
    BandLayout layout_ = BandLayout::HighNibble;
    OffsetGroup offsetGroup_ = OffsetGroup::OffsetPlusTwo;
    uint32_t nominalIfHz_ = 38900000;
    bool secamSwitch_ = false;

    std::optional<uint8_t> pinned_;
    uint32_t refusedWrites_ = 0;
    uint32_t statusReads_ = 0;

    std::optional<uint32_t> divider_;
    std::optional<uint8_t> control_;
    uint8_t bandByte_ = 0;
    std::optional<uint8_t> auxiliary_;
    int64_t programmedAt_ = 0;
    std::vector<TimedWrite> writes_;

    // The transaction under way.
    bool active_ = false;
    bool reading_ = false;
    std::vector<uint8_t> transaction_;
};

}  // namespace sim
