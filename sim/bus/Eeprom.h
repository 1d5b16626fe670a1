// A 256-byte serial EEPROM: a write sets the word address with its first byte
// (further bytes are a page write, taken over at STOP); reads run sequentially
// from the address counter, wrapping at the end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "sim/I2cDevice.h"

namespace sim {

class Eeprom : public I2cDevice {
public:
    static constexpr size_t Size = 256;
    static constexpr size_t PageSize = 8;

    Eeprom();

    // ---- Bus side ----------------------------------------------------------------
    bool Start(bool read) override;
    bool Write(uint8_t byte) override;
    uint8_t Read() override;
    void Stop() override;

    // ---- Backend for tests -----------------------------------------------------
    // Loads an image from offset 0; bytes beyond it read as 0xFF (erased).
    void Load(const std::vector<uint8_t>& image);
    uint8_t Byte(size_t offset) const { return memory_.at(offset); }
    void SetByte(size_t offset, uint8_t value) { memory_.at(offset) = value; }
    uint8_t AddressCounter() const { return counter_; }
    // An EEPROM that does not answer (absent, or busy in a write cycle).
    void SetAnswering(bool answering) { answering_ = answering; }

private:
    std::array<uint8_t, Size> memory_;
    std::vector<std::pair<uint8_t, uint8_t>> page_;  // (offset, byte) of a page write waiting for STOP
    uint8_t counter_ = 0;
    bool writing_ = false;
    bool expectAddress_ = false;
    bool answering_ = true;
};

}  // namespace sim
