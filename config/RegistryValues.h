// The three small routines through which every configuration value passes.
#pragma once

#include "platform/Kernel.h"
#include "platform/Types.h"

// Size of every value buffer: 31 characters and the terminating zero.
constexpr ULONG RegistryValueBytes = 64;

// Reads the value as a zero-terminated string into the buffer. The buffer is
// cleared first, so nothing of an earlier value remains behind the data; a
// value whose data does not fit, or leaves no terminating zero in the
// buffer, is STATUS_BUFFER_TOO_SMALL. nameBytes counts the name's
// terminating zero.
NTSTATUS ReadRegistryValue(HANDLE key, const WCHAR* name, ULONG nameBytes, WCHAR* buffer, ULONG bufferBytes);

// Succeeds only when the whole text is one unsigned 32-bit number: blanks
// around it, an optional 0x, 0o or 0b prefix, at least one digit of the
// base, no sign and no overflow.
bool ParseInteger(const WCHAR* text, uint32_t* value);

// Whole strings equal without regard to case.
bool EqualNameNoCase(const WCHAR* first, const WCHAR* second);
