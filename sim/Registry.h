// Test-facing control of the simulated registry: the keys that
// IoOpenDeviceRegistryKey opens for a device object, the values in them as
// the configuration would store them (a type and raw bytes), fault injection
// and what the driver did with them.
//
// Every device object has an empty driver key until a test puts values in
// it. Value names are matched without regard to case, as the registry does.
// sim::Reset empties all keys and clears the faults; a key still open at the
// end of a test is reported as a violation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Kernel.h"

namespace sim {

// ---- Values ------------------------------------------------------------------
void SetRegistryValue(DEVICE_OBJECT* device, const std::u16string& name, ULONG type,
                      const std::vector<uint8_t>& data, ULONG keyType = PLUGPLAY_REGKEY_DRIVER);
// REG_SZ: the text as UTF-16 with its terminating zero.
void SetRegistryString(DEVICE_OBJECT* device, const std::u16string& name, const std::u16string& text,
                       ULONG keyType = PLUGPLAY_REGKEY_DRIVER);
// REG_DWORD: four bytes, little-endian.
void SetRegistryDword(DEVICE_OBJECT* device, const std::u16string& name, uint32_t value,
                      ULONG keyType = PLUGPLAY_REGKEY_DRIVER);
// REG_BINARY: the bytes as given.
void SetRegistryBinary(DEVICE_OBJECT* device, const std::u16string& name, const std::vector<uint8_t>& data,
                       ULONG keyType = PLUGPLAY_REGKEY_DRIVER);
void DeleteRegistryValue(DEVICE_OBJECT* device, const std::u16string& name,
                         ULONG keyType = PLUGPLAY_REGKEY_DRIVER);
// Forgets every key of the device and its faults, for a test that deletes the
// device object before the test ends (a new device may get its address).
void DeleteRegistryKeys(DEVICE_OBJECT* device);

// ---- Fault injection (until sim::Reset) ----------------------------------------
// IoOpenDeviceRegistryKey on this device fails with the status.
void FailRegistryKeyOpen(DEVICE_OBJECT* device, NTSTATUS status);
// ZwQueryValueKey for this value name (any case) fails with the status, on
// every key of the device, whether or not the value exists.
void FailRegistryQuery(DEVICE_OBJECT* device, const std::u16string& name, NTSTATUS status);

// ---- What the driver did ----------------------------------------------------------
struct RegistryKeyOpen {
    DEVICE_OBJECT* Device;
    ULONG KeyType;
    ACCESS_MASK Access;
    NTSTATUS Status;
};
std::vector<RegistryKeyOpen> RegistryKeyOpens();  // every IoOpenDeviceRegistryKey, in order
std::vector<std::u16string> RegistryQueries();    // value names of every ZwQueryValueKey, in order
size_t OpenRegistryKeyCount();                    // handles not closed yet

}  // namespace sim
