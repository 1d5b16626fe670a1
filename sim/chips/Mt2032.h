// Simulated double-conversion synthesizer tuner at the tuner address: a
// register file written at a subaddress with auto-increment, register 14
// (lock status) readable. From its registers it decodes both local
// oscillators and the frequency they bring to the second IF, and publishes
// that as the module's Reception.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/I2cDevice.h"
#include "sim/RfEnvironment.h"

namespace sim {

class Mt2032 : public I2cDevice {
public:
    static constexpr uint8_t RegisterCount = 21;
    static constexpr uint8_t StatusRegister = 14;
    static constexpr uint32_t ReferenceHz = 5250000;
    static constexpr uint32_t FractionUnits = 3780;
    // Register 14 as this model answers it: bit 1 LO1 locked, bit 2 LO2 locked.
    static constexpr uint8_t Lo1Locked = 0x02;
    static constexpr uint8_t Lo2Locked = 0x04;
    static constexpr int64_t SettlingTime = 30000;  // 3 ms in 100 ns units

    // Publishes into rf->Tuned when rf is given.
    explicit Mt2032(RfEnvironment* rf = nullptr);

    // ---- Bus side ----
    bool Start(bool read) override;
    bool Write(uint8_t byte) override;
    uint8_t Read() override;
    void Stop() override;

    // ---- Backend for tests and the board ----

    // The IF the stage behind the synthesizer listens at, and whether it
    // demodulates FM radio; the board follows the driver's mode and standard.
    void SetSecondIf(uint32_t hz, bool fm);
    uint32_t SecondIfHz() const { return secondIfHz_; }
    bool Fm() const { return fm_; }

    // A chip that does not answer leaves its address unacknowledged.
    void SetAnswering(bool answering) { answering_ = answering; }

    uint8_t Register(uint8_t index) const { return registers_.at(index); }
    bool WasWritten(uint8_t index) const { return written_.at(index); }
    // Every completed write transaction, subaddress first.
    const std::vector<std::vector<uint8_t>>& Writes() const { return writes_; }
    void ClearWrites() { writes_.clear(); }

    // Decoded from the register file.
    uint32_t N1() const;
    uint8_t VcoBand() const;
    uint64_t Lo1Hz() const;
    uint32_t N2() const;
    uint32_t Fraction() const;
    double Lo2Hz() const;
    // LO1 - LO2 - second IF: the RF frequency that reaches the second IF.
    double WantedHz() const;
    uint8_t StatusByte() const;

private:
    void Publish();

    RfEnvironment* rf_;
    uint32_t secondIfHz_ = 38900000;
    bool fm_ = false;

    std::vector<uint8_t> registers_;
    std::vector<bool> written_;
    std::vector<std::vector<uint8_t>> writes_;

    // The transaction under way.
    bool active_ = false;
    bool reading_ = false;
    bool haveSubaddress_ = false;
    uint8_t pointer_ = 0;
    std::vector<uint8_t> transaction_;
    bool oscillatorsChanged_ = false;

    bool answering_ = true;
    bool programmed_ = false;
    int64_t programmedAt_ = 0;
};

}  // namespace sim
