// Simulated IF demodulator at 0x86: three registers written from subaddress
// 0 with auto-increment (switching mode, adjustment, data), and a one-byte
// status read carrying the AFC offset code. The module in front of it
// reads its programmed picture IF to know which frequency it receives.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/I2cDevice.h"
#include "sim/RfEnvironment.h"

namespace sim {

class IfDemodulator : public I2cDevice {
public:
    static constexpr uint8_t Address = 0x86;
    static constexpr uint8_t RegisterCount = 3;
    static constexpr uint8_t NotReadyBit = 0x01;
    // The AFC needs this long after a new tune before its code is valid.
    static constexpr int64_t SettlingTime = 50000;  // 5 ms in 100 ns units

    // How the AFC window is mapped onto the 4-bit code: the boards differ.
    enum class CodeTable {
        Models10To14,
        Mt2032Tv,
        Mt2032Fm,
        Mt2032,  // the TV or FM column by what the module receives
    };

    enum class Group { NotProgrammed, NegativeTv, PositiveTv, FmRadio, Unknown };

    explicit IfDemodulator(RfEnvironment* rf);

    // ---- Bus side ----
    bool Start(bool read) override;
    bool Write(uint8_t byte) override;
    uint8_t Read() override;
    void Stop() override;

    // ---- Backend for tests and the board ----
    void SetCodeTable(CodeTable table) { table_ = table; }
    // A pinned byte is answered instead of the computed status.
    void PinStatus(std::optional<uint8_t> status) { pinned_ = status; }
    // The next count write transactions find the address unacknowledged.
    void RefuseNextWrites(uint32_t count) { refusedWrites_ = count; }
    // Called whenever a write transaction changed the registers.
    void OnProgrammed(std::function<void()> listener) { listener_ = std::move(listener); }

    bool Programmed() const { return programmed_; }
    uint8_t Register(uint8_t index) const { return registers_.at(index); }
    // Every completed write transaction, subaddress first.
    const std::vector<std::vector<uint8_t>>& Writes() const { return writes_; }
    void ClearWrites() { writes_.clear(); }
    uint32_t StatusReads() const { return statusReads_; }

    // Decoded from the registers.
    Group StandardGroup() const;
    bool Intercarrier() const;        // false: split (quasi-split) sound
    uint32_t PictureIfHz() const;     // 0: not a picture IF of this model
    uint32_t SoundCarrierHz() const;  // intercarrier distance of the sound
    // "M", "M/J", "B/G", "I", "D/K", "L", "L'", "FM" or "?".
    std::string StandardName() const;

    uint8_t StatusByte() const;
    // The code the AFC gives for an offset in steps, or for no station.
    static uint8_t CodeFor(CodeTable table, std::optional<int32_t> offsetSteps);

private:
    RfEnvironment* rf_;
    CodeTable table_ = CodeTable::Models10To14;
    std::optional<uint8_t> pinned_;
    std::function<void()> listener_;
    uint32_t refusedWrites_ = 0;
    uint32_t statusReads_ = 0;

    std::array<uint8_t, RegisterCount> registers_{};
    bool programmed_ = false;
    std::vector<std::vector<uint8_t>> writes_;

    // The transaction under way.
    bool reading_ = false;
    bool haveSubaddress_ = false;
    uint8_t pointer_ = 0;
    std::vector<uint8_t> transaction_;
    bool changed_ = false;
};

}  // namespace sim
