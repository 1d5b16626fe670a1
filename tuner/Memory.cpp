#include "tuner/Memory.h"

#include "platform/Hal.h"

void* AllocateZeroed(size_t size, POOL_TYPE poolType)
{
    KIRQL irql = KeGetCurrentIrql();
    if (irql > DISPATCH_LEVEL) return nullptr;
    if (irql == DISPATCH_LEVEL && poolType != NonPagedPool) return nullptr;

    void* block = ExAllocatePoolWithTag(poolType, size, DriverPoolTag);
    if (block != nullptr) __builtin_memset(block, 0, size);
    return block;
}

void FreeMemory(void* block)
{
    if (block != nullptr && KeGetCurrentIrql() <= DISPATCH_LEVEL) ExFreePool(block);
}
