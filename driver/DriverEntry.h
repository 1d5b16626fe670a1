// The image's entry point: registers the driver with the class driver.
#pragma once

#include "platform/Kernel.h"
#include "platform/Types.h"

extern "C" NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driverObject, UNICODE_STRING* registryPath);
