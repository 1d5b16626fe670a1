// The per-adapter memory that the class driver allocates zero-filled and
// hands to every request of the adapter.
#pragma once

#include "i2c/I2cClient.h"
#include "platform/Kernel.h"
#include "platform/StreamClass.h"
#include "platform/Types.h"
#include "tuner/TunerDevice.h"

// Where the adapter is in its life; requests are admitted only while started.
enum AdapterStateValue : uint32_t {
    AdapterNotStarted = 0,  // also after a failed start
    AdapterStarted = 1,
    AdapterStopped = 2,     // after SRB_UNINITIALIZE_DEVICE
};

struct DeviceExtension {
    // The client and the tuner are constructed in place in these slots.
    alignas(I2cClient) uint8_t ClientSlot[sizeof(I2cClient)];
    alignas(TunerDevice) uint8_t TunerSlot[sizeof(TunerDevice)];
    DEVICE_OBJECT* RealPhysicalDeviceObject;
    uint32_t QueueBusy;
    LIST_ENTRY QueueHead;
    KSPIN_LOCK QueueLock;
    uint32_t AdapterState;

    I2cClient* Client() { return reinterpret_cast<I2cClient*>(ClientSlot); }
    TunerDevice* Tuner() { return reinterpret_cast<TunerDevice*>(TunerSlot); }
};

// The per-request extension: queuing a request never allocates.
struct QueueNode {
    LIST_ENTRY Link;
    HW_STREAM_REQUEST_BLOCK* Srb;
};
