// A generic register-file chip: a write sets the subaddress with its first
// byte and writes the following bytes from there with auto-increment; a read
// returns bytes from the current subaddress on, also incrementing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/I2cDevice.h"

namespace sim {

class RegisterFile : public I2cDevice {
public:
    explicit RegisterFile(size_t registerCount = 256);

    // ---- Bus side ----------------------------------------------------------------
    bool Start(bool read) override;
    bool Write(uint8_t byte) override;
    uint8_t Read() override;
    void Stop() override;

    // ---- Backend for tests -----------------------------------------------------
    uint8_t Register(size_t index) const { return registers_.at(index); }
    void SetRegister(size_t index, uint8_t value) { registers_.at(index) = value; }
    const std::vector<uint8_t>& Registers() const { return registers_; }
    uint8_t Subaddress() const { return subaddress_; }
    // A chip that does not answer leaves its address unacknowledged.
    void SetAnswering(bool answering) { answering_ = answering; }
    // Bytes written to registers, in bus order (the subaddress bytes excluded).
    const std::vector<uint8_t>& Written() const { return written_; }
    void ClearWritten() { written_.clear(); }

private:
    void Advance();

    std::vector<uint8_t> registers_;
    std::vector<uint8_t> written_;
    uint8_t subaddress_ = 0;
    bool expectSubaddress_ = false;
    bool answering_ = true;
};

}  // namespace sim
