// The capture bridge driver's I2C interface (GUID_I2C_INTERFACE): the record
// the bridge fills in place, its control block, commands, flags and statuses,
// and the bridge's own notification command.
#pragma once

#include "platform/Kernel.h"
#include "platform/Types.h"

inline constexpr GUID GUID_I2C_INTERFACE = {
    0x02295E86, 0xBB3F, 0x11D0, {0x80, 0xCE, 0x00, 0x20, 0xAF, 0xF7, 0x49, 0x1E}};

struct I2CControl {
    ULONG Command;
    DWORD dwCookie;
    BYTE Data;
    BYTE Reserved[3];  // notifications carry bits 8 to 31 of their value here
    ULONG Flags;
    ULONG Status;
    ULONG ClockRate;
};

typedef NTSTATUS(NTAPI* I2COPEN)(DEVICE_OBJECT* deviceObject, ULONG toOpen, I2CControl* control);
typedef NTSTATUS(NTAPI* I2CACCESS)(DEVICE_OBJECT* deviceObject, I2CControl* control);

struct I2CINTERFACE {
    USHORT Size;
    USHORT Version;
    PVOID Context;
    PINTERFACE_REFERENCE InterfaceReference;
    PINTERFACE_DEREFERENCE InterfaceDereference;
    I2COPEN i2cOpen;
    I2CACCESS i2cAccess;
};

constexpr ULONG I2C_COMMAND_NULL = 0x0;
constexpr ULONG I2C_COMMAND_READ = 0x1;
constexpr ULONG I2C_COMMAND_WRITE = 0x2;
constexpr ULONG I2C_COMMAND_STATUS = 0x4;
constexpr ULONG I2C_COMMAND_RESET = 0x8;
constexpr ULONG I2C_COMMAND_NOTIFY = 0x10;  // the bridge's own extension

constexpr ULONG I2C_FLAGS_START = 0x01;
constexpr ULONG I2C_FLAGS_STOP = 0x02;
constexpr ULONG I2C_FLAGS_DATACHAINING = 0x04;
constexpr ULONG I2C_FLAGS_ACK = 0x10;

constexpr ULONG I2C_NOTIFY_COUNTRY = 0x20;
constexpr ULONG I2C_NOTIFY_STANDARD = 0x40;
constexpr ULONG I2C_NOTIFY_MODE = 0x80;

constexpr ULONG I2C_STATUS_NOERROR = 0;
constexpr ULONG I2C_STATUS_BUSY = 1;
constexpr ULONG I2C_STATUS_ERROR = 2;

static_assert(sizeof(I2CControl) == 24, "I2CControl");
static_assert(offsetof(I2CControl, Data) == 8, "I2CControl.Data");
static_assert(offsetof(I2CControl, Flags) == 12, "I2CControl.Flags");
static_assert(offsetof(I2CControl, Status) == 16, "I2CControl.Status");
static_assert(offsetof(I2CControl, ClockRate) == 20, "I2CControl.ClockRate");
static_assert(sizeof(I2CINTERFACE) == 24, "I2CINTERFACE");
static_assert(offsetof(I2CINTERFACE, i2cOpen) == 16 && offsetof(I2CINTERFACE, i2cAccess) == 20, "I2CINTERFACE routines");
