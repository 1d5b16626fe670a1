#include "sim/bus/RegisterFile.h"

namespace sim {

RegisterFile::RegisterFile(size_t registerCount) : registers_(registerCount, 0) {}

bool RegisterFile::Start(bool read)
{
    if (!answering_) return false;
    expectSubaddress_ = !read;
    return true;
}

bool RegisterFile::Write(uint8_t byte)
{
    if (expectSubaddress_) {
        subaddress_ = uint8_t(byte % registers_.size());
        expectSubaddress_ = false;
        return true;
    }
    registers_[subaddress_] = byte;
    written_.push_back(byte);
    Advance();
    return true;
}

uint8_t RegisterFile::Read()
{
    uint8_t byte = registers_[subaddress_];
    Advance();
    return byte;
}

void RegisterFile::Stop()
{
    expectSubaddress_ = false;
}

void RegisterFile::Advance()
{
    subaddress_ = uint8_t((subaddress_ + 1) % registers_.size());
}

}  // namespace sim
