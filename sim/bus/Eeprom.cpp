#include "sim/bus/Eeprom.h"

namespace sim {

Eeprom::Eeprom()
{
    memory_.fill(0xFF);
}

void Eeprom::Load(const std::vector<uint8_t>& image)
{
    memory_.fill(0xFF);
    for (size_t i = 0; i < image.size() && i < Size; ++i) memory_[i] = image[i];
}

bool Eeprom::Start(bool read)
{
    if (!answering_) return false;
    // A repeated START abandons a page write that has not seen its STOP.
    page_.clear();
    writing_ = !read;
    expectAddress_ = !read;
    return true;
}

bool Eeprom::Write(uint8_t byte)
{
    if (expectAddress_) {
        counter_ = byte;
        expectAddress_ = false;
        return true;
    }
    // Within a page the address wraps instead of running into the next page.
    page_.emplace_back(counter_, byte);
    uint8_t pageStart = uint8_t(counter_ - counter_ % PageSize);
    counter_ = uint8_t(pageStart + (counter_ + 1) % PageSize);
    return true;
}

uint8_t Eeprom::Read()
{
    uint8_t byte = memory_[counter_];
    counter_ = uint8_t(counter_ + 1);
    return byte;
}

void Eeprom::Stop()
{
    if (writing_) {
        for (const auto& [offset, byte] : page_) memory_[offset] = byte;
    }
    page_.clear();
    writing_ = false;
    expectAddress_ = false;
}

}  // namespace sim
