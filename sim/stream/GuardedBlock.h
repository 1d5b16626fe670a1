// Memory the class driver lends the minidriver: zero-filled, followed by a
// canary that shows writes past its end, and poisoned when it is taken back
// so that later writes show as well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace sim::stream {

class GuardedBlock {
public:
    explicit GuardedBlock(size_t size);
    ~GuardedBlock();
    GuardedBlock(const GuardedBlock&) = delete;
    GuardedBlock& operator=(const GuardedBlock&) = delete;

    uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }

    bool CanaryIntact() const;
    void Poison();
    bool PoisonIntact() const;  // true also when the block was never poisoned

private:
    uint8_t* raw_;
    uint8_t* data_;
    size_t size_;
    bool poisoned_ = false;
};

constexpr uint8_t CanaryByte = 0xCA;
constexpr uint8_t PoisonByte = 0xDB;
constexpr size_t CanarySize = 16;

}  // namespace sim::stream
