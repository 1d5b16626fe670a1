// Construction of the tuner in place in its slot of the device extension.
#include "tuner/TunerDevice.h"

void* TunerDevice::operator new(size_t size, void* slot, size_t slotSize) noexcept
{
    // A null result makes the new-expression skip the constructor.
    return (slot != nullptr && size == slotSize) ? slot : nullptr;
}
