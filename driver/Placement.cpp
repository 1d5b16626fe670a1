// Construction in place in the slots of the device extension.
#include "i2c/I2cClient.h"
#include "tuner/TunerDevice.h"

namespace {

void* PlaceInSlot(size_t size, void* slot, size_t slotSize)
{
    // A null result makes the new-expression skip the constructor.
    return (slot != nullptr && size == slotSize) ? slot : nullptr;
}

}  // namespace

void* I2cClient::operator new(size_t size, void* slot, size_t slotSize) noexcept
{
    return PlaceInSlot(size, slot, slotSize);
}

void* TunerDevice::operator new(size_t size, void* slot, size_t slotSize) noexcept
{
    return PlaceInSlot(size, slot, slotSize);
}
