// Basic types, calling conventions and small records of the 32-bit x86
// Windows kernel, declared by us with their published layouts.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if !defined(__i386__)
#error "tvtuner is built for 32-bit x86 only (host: -m32, target: i686-w64-mingw32)"
#endif

// Kernel and stream class routines are stdcall; three HAL/kernel routines are
// fastcall; variadic ones are cdecl. GCC honours these on i386 ELF as well,
// so the host simulation exercises the same conventions.
#define NTAPI __attribute__((stdcall))
#define FASTCALL __attribute__((fastcall))
#define CDECL __attribute__((cdecl))

typedef uint8_t UCHAR;
typedef int8_t CHAR;
typedef int8_t CCHAR;
typedef uint16_t USHORT;
typedef int16_t CSHORT;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef uint32_t ULONG_PTR;
typedef uint32_t DWORD;
typedef uint8_t BYTE;
typedef uint8_t BOOLEAN;
typedef int32_t BOOL;
typedef LONG NTSTATUS;
typedef LONG KPRIORITY;
typedef ULONG ACCESS_MASK;
typedef void* PVOID;
typedef void* HANDLE;
typedef char16_t WCHAR;  // 16-bit on Windows; wchar_t is 32-bit on Linux
typedef UCHAR KIRQL;
typedef ULONG_PTR KSPIN_LOCK;

// Windows aligns 64-bit members to 8 inside records; GCC on i386 to 4.
typedef int64_t LONGLONG __attribute__((aligned(8)));
typedef uint64_t ULONGLONG __attribute__((aligned(8)));

#define TRUE 1
#define FALSE 0

union alignas(8) LARGE_INTEGER {
    struct {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};

union alignas(8) ULARGE_INTEGER {
    struct {
        ULONG LowPart;
        ULONG HighPart;
    } u;
    ULONGLONG QuadPart;
};

struct GUID {
    ULONG Data1;
    USHORT Data2;
    USHORT Data3;
    UCHAR Data4[8];
};

inline bool IsEqualGuid(const GUID& a, const GUID& b)
{
    return __builtin_memcmp(&a, &b, sizeof(GUID)) == 0;
}

struct LIST_ENTRY {
    LIST_ENTRY* Flink;
    LIST_ENTRY* Blink;
};

// The kit's list helpers are header inlines; so are ours.
inline void InitializeListHead(LIST_ENTRY* head)
{
    head->Flink = head;
    head->Blink = head;
}

inline bool IsListEmpty(const LIST_ENTRY* head)
{
    return head->Flink == head;
}

inline void InsertTailList(LIST_ENTRY* head, LIST_ENTRY* entry)
{
    LIST_ENTRY* last = head->Blink;
    entry->Flink = head;
    entry->Blink = last;
    last->Flink = entry;
    head->Blink = entry;
}

inline LIST_ENTRY* RemoveHeadList(LIST_ENTRY* head)
{
    LIST_ENTRY* first = head->Flink;
    LIST_ENTRY* next = first->Flink;
    head->Flink = next;
    next->Blink = head;
    return first;
}

struct UNICODE_STRING {
    USHORT Length;         // bytes, without a terminating zero
    USHORT MaximumLength;  // bytes
    WCHAR* Buffer;
};

#define CONTAINING_RECORD(address, type, field) \
    (reinterpret_cast<type*>(reinterpret_cast<char*>(address) - offsetof(type, field)))

static_assert(sizeof(LARGE_INTEGER) == 8 && alignof(LARGE_INTEGER) == 8, "LARGE_INTEGER");
static_assert(sizeof(GUID) == 16, "GUID");
static_assert(sizeof(LIST_ENTRY) == 8, "LIST_ENTRY");
static_assert(sizeof(UNICODE_STRING) == 8, "UNICODE_STRING");
static_assert(offsetof(UNICODE_STRING, Buffer) == 4, "UNICODE_STRING.Buffer");
static_assert(sizeof(WCHAR) == 2, "WCHAR is 16-bit");
