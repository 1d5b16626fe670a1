// Reading, parsing and comparing configuration values.
#include "config/RegistryValues.h"

#include "tuner/Memory.h"

namespace {

// The record holds the fixed part, the name (without its zero) and the data,
// which the kernel may start on the next 4-byte boundary.
constexpr ULONG RecordOverhead = 24;

bool HasTerminator(const WCHAR* buffer, ULONG bufferBytes)
{
    for (ULONG i = 0; i < bufferBytes / sizeof(WCHAR); ++i) {
        if (buffer[i] == 0) return true;
    }
    return false;
}

bool IsBlank(WCHAR c)
{
    return c == u' ' || c == u'\t';
}

uint32_t DigitValue(WCHAR c)
{
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return 0xFF;
}

}  // namespace

NTSTATUS ReadRegistryValue(HANDLE key, const WCHAR* name, ULONG nameBytes, WCHAR* buffer, ULONG bufferBytes)
{
    __builtin_memset(buffer, 0, bufferBytes);
    const ULONG recordBytes = nameBytes + bufferBytes + RecordOverhead;
    auto* record = static_cast<KEY_VALUE_FULL_INFORMATION*>(ExAllocatePoolWithTag(PagedPool, recordBytes, DriverPoolTag));
    if (record == nullptr) return STATUS_INSUFFICIENT_RESOURCES;

    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    ULONG resultLength = 0;
    NTSTATUS status = ZwQueryValueKey(key, &valueName, KeyValueFullInformation, record, recordBytes, &resultLength);
    if (NT_SUCCESS(status)) {
        if (record->DataLength > bufferBytes) {
            status = STATUS_BUFFER_TOO_SMALL;
        } else {
            __builtin_memcpy(buffer, reinterpret_cast<const uint8_t*>(record) + record->DataOffset, record->DataLength);
            if (!HasTerminator(buffer, bufferBytes)) status = STATUS_BUFFER_TOO_SMALL;
        }
    }
    if (!NT_SUCCESS(status)) __builtin_memset(buffer, 0, bufferBytes);
    ExFreePool(record);
    return status;
}

bool ParseInteger(const WCHAR* text, uint32_t* value)
{
    const WCHAR* p = text;
    while (IsBlank(*p)) ++p;

    uint32_t base = 10;
    if (p[0] == u'0' && (p[1] == u'x' || p[1] == u'o' || p[1] == u'b')) {
        base = p[1] == u'x' ? 16 : p[1] == u'o' ? 8 : 2;
        p += 2;
    }
    uint32_t result = 0;
    const WCHAR* firstDigit = p;
    for (uint32_t digit = DigitValue(*p); digit < base; digit = DigitValue(*++p)) {
        if (result > (0xFFFFFFFFu - digit) / base) return false;
        result = result * base + digit;
    }
    if (p == firstDigit) return false;

    while (IsBlank(*p)) ++p;
    if (*p != 0) return false;
    *value = result;
    return true;
}

bool EqualNameNoCase(const WCHAR* first, const WCHAR* second)
{
    UNICODE_STRING a;
    UNICODE_STRING b;
    RtlInitUnicodeString(&a, first);
    RtlInitUnicodeString(&b, second);
    return RtlEqualUnicodeString(&a, &b, TRUE) != FALSE;
}
