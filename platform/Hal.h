// Routines of the hardware abstraction layer (HAL.dll).
#pragma once

#include "platform/Types.h"

extern "C" {

KIRQL NTAPI KeGetCurrentIrql();
KIRQL FASTCALL KfAcquireSpinLock(KSPIN_LOCK* spinLock);
void FASTCALL KfReleaseSpinLock(KSPIN_LOCK* spinLock, KIRQL newIrql);

}  // extern "C"
