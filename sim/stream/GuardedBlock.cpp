#include "sim/stream/GuardedBlock.h"

#include <cstdlib>
#include <cstring>

namespace sim::stream {
namespace {

constexpr size_t Alignment = 8;

bool AllBytes(const uint8_t* data, size_t size, uint8_t value)
{
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != value) return false;
    }
    return true;
}

}  // namespace

GuardedBlock::GuardedBlock(size_t size) : size_(size)
{
    raw_ = static_cast<uint8_t*>(std::aligned_alloc(Alignment, (size + CanarySize + Alignment - 1) / Alignment * Alignment));
    data_ = raw_;
    std::memset(data_, 0, size_);
    std::memset(data_ + size_, CanaryByte, CanarySize);
}

GuardedBlock::~GuardedBlock()
{
    std::free(raw_);
}

bool GuardedBlock::CanaryIntact() const
{
    return AllBytes(data_ + size_, CanarySize, CanaryByte);
}

void GuardedBlock::Poison()
{
    std::memset(data_, PoisonByte, size_);
    poisoned_ = true;
}

bool GuardedBlock::PoisonIntact() const
{
    return !poisoned_ || AllBytes(data_, size_, PoisonByte);
}

}  // namespace sim::stream
