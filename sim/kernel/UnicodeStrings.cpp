// Counted and zero-terminated strings of 16-bit characters, with the
// platform's lenient integer conversion.
#include "sim/Kernel.h"

namespace {

constexpr USHORT LongestCountedString = 0xFFFC;  // bytes; longer sources are cut there

// The platform's upcase table agrees with this for every character a
// configuration can hold; beyond Latin-1 characters compare as they are.
WCHAR Upcase(WCHAR c)
{
    if (c >= u'a' && c <= u'z') return static_cast<WCHAR>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<WCHAR>(c - 0x20);
    if (c == 0xFF) return 0x178;
    return c;
}

int DigitValue(WCHAR c)
{
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'z') return c - u'a' + 10;
    if (c >= u'A' && c <= u'Z') return c - u'A' + 10;
    return 99;
}

}  // namespace

extern "C" void NTAPI RtlInitUnicodeString(UNICODE_STRING* destinationString, const WCHAR* sourceString)
{
    if (destinationString == nullptr) {
        sim::ReportViolation("RtlInitUnicodeString without a destination");
        return;
    }
    size_t bytes = 0;
    if (sourceString != nullptr) {
        while (sourceString[bytes / sizeof(WCHAR)] != 0) bytes += sizeof(WCHAR);
        if (bytes > LongestCountedString) bytes = LongestCountedString;
    }
    destinationString->Length = static_cast<USHORT>(bytes);
    destinationString->MaximumLength = static_cast<USHORT>(sourceString ? bytes + sizeof(WCHAR) : 0);
    destinationString->Buffer = const_cast<WCHAR*>(sourceString);
}

extern "C" BOOLEAN NTAPI RtlEqualUnicodeString(const UNICODE_STRING* string1, const UNICODE_STRING* string2,
                                               BOOLEAN caseInSensitive)
{
    if (string1 == nullptr || string2 == nullptr) {
        sim::ReportViolation("RtlEqualUnicodeString without two strings");
        return FALSE;
    }
    if (string1->Length != string2->Length) return FALSE;
    for (size_t i = 0; i < string1->Length / sizeof(WCHAR); ++i) {
        WCHAR a = string1->Buffer[i];
        WCHAR b = string2->Buffer[i];
        if (caseInSensitive) {
            a = Upcase(a);
            b = Upcase(b);
        }
        if (a != b) return FALSE;
    }
    return TRUE;
}

// Lenient as the platform is: blanks (any character up to the space) are
// skipped, a sign is taken, base 0 reads a 0x/0o/0b prefix, and the
// conversion stops without complaint at the first character that is not a
// digit of the base. Overflow wraps; only an empty string or a base the
// routine does not know fails.
extern "C" NTSTATUS NTAPI RtlUnicodeStringToInteger(const UNICODE_STRING* string, ULONG base, ULONG* value)
{
    if (string == nullptr || value == nullptr || (string->Buffer == nullptr && string->Length != 0)) {
        sim::ReportViolation("RtlUnicodeStringToInteger without a string or a result");
        return STATUS_INVALID_PARAMETER;
    }
    const WCHAR* p = string->Buffer;
    size_t left = string->Length / sizeof(WCHAR);
    if (left == 0) return STATUS_INVALID_PARAMETER;
    if (base != 0 && base != 2 && base != 8 && base != 10 && base != 16) return STATUS_INVALID_PARAMETER;

    while (left > 0 && *p <= u' ') {
        ++p;
        --left;
    }
    bool negative = false;
    if (left > 0 && (*p == u'-' || *p == u'+')) {
        negative = *p == u'-';
        ++p;
        --left;
    }
    if (base == 0) {
        base = 10;
        if (left >= 2 && p[0] == u'0') {
            switch (p[1]) {
            case u'x': base = 16; break;
            case u'o': base = 8; break;
            case u'b': base = 2; break;
            default: break;
            }
            if (base != 10) {
                p += 2;
                left -= 2;
            }
        }
    }
    ULONG result = 0;
    for (; left > 0; ++p, --left) {
        int digit = DigitValue(*p);
        if (digit >= static_cast<int>(base)) break;
        result = result * base + static_cast<ULONG>(digit);
    }
    *value = negative ? 0u - result : result;
    return STATUS_SUCCESS;
}

WCHAR* CDECL wcscpy(WCHAR* destination, const WCHAR* source)
{
    if (destination == nullptr || source == nullptr) {
        sim::ReportViolation("wcscpy with a null string");
        return destination;
    }
    WCHAR* out = destination;
    while ((*out++ = *source++) != 0) {
    }
    return destination;
}
