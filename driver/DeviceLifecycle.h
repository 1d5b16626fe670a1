// Start, power changes and stop of an adapter.
#pragma once

#include "platform/StreamClass.h"
#include "platform/Types.h"

// Writes the request's Status; the caller completes the request.
void InitializeDevice(HW_STREAM_REQUEST_BLOCK* srb);
void UninitializeDevice(HW_STREAM_REQUEST_BLOCK* srb);

// Return the status to store in the request.
NTSTATUS ChangePowerState(HW_STREAM_REQUEST_BLOCK* srb);
NTSTATUS HandleUnknownCommand(HW_STREAM_REQUEST_BLOCK* srb);
