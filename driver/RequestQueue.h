// The routines the class driver calls for device requests, and the queue
// that serialises the requests of one adapter.
#pragma once

#include "platform/StreamClass.h"
#include "platform/Types.h"

void NTAPI ReceiveDevicePacket(HW_STREAM_REQUEST_BLOCK* srb);
void NTAPI CancelPacket(HW_STREAM_REQUEST_BLOCK* srb);
void NTAPI RequestTimeout(HW_STREAM_REQUEST_BLOCK* srb);
