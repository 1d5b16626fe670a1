// The driver's allocation helpers and its pool tag.
#pragma once

#include "platform/Kernel.h"
#include "platform/Types.h"

// "Wdm ": the bytes W, d, m, space in memory order.
constexpr ULONG DriverPoolTag = 0x206D6457u;

// Zero-filled memory, refused when the current IRQL does not allow the pool
// type (any type below DISPATCH_LEVEL, non-paged at DISPATCH_LEVEL, nothing
// above); null on refusal or when the pool has none.
void* AllocateZeroed(size_t size, POOL_TYPE poolType);

// Frees a non-null block at DISPATCH_LEVEL or below; does nothing otherwise.
void FreeMemory(void* block);
