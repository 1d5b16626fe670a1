// Opening and closing the bridge's bus, and one transfer with the bus opened
// around it.
#include "i2c/BridgeCalls.h"
#include "i2c/I2cClient.h"
#include "platform/Hal.h"
#include "platform/Kernel.h"

namespace {

// A little more than this since the first refused open, and the retry gives up.
constexpr LONGLONG OpenRetryPeriod = 50000000;  // 5 s in 100 ns units

}  // namespace

bool I2cClient::OpenBus()
{
    if (!BridgeUsable(*this)) return false;
    I2CControl control = {};
    control.Status = I2C_STATUS_NOERROR;
    NTSTATUS returned = BridgeInterface.i2cOpen(BridgeDevice, TRUE, &control);
    // Cookie 0 means "not open" to the client, whatever the bridge says.
    if (returned != STATUS_SUCCESS || control.Status != I2C_STATUS_NOERROR || control.dwCookie == 0) return false;
    Cookie = control.dwCookie;
    return true;
}

bool I2cClient::CloseBus()
{
    if (!BridgeUsable(*this)) return false;
    I2CControl control = {};
    control.dwCookie = Cookie;
    control.ClockRate = BusClockRate;
    control.Status = I2C_STATUS_NOERROR;
    NTSTATUS returned = BridgeInterface.i2cOpen(BridgeDevice, FALSE, &control);
    if (returned != STATUS_SUCCESS || control.Status != I2C_STATUS_NOERROR) return false;
    Cookie = 0;
    return true;
}

bool I2cClient::OpenBusWithRetry()
{
    FirstOpenFailure = 0;
    // An interface that was never obtained will not appear by waiting.
    if (!BridgeUsable(*this)) return false;
    bool failedBefore = false;
    for (;;) {
        if (OpenBus()) return true;
        // No thread may wait at DISPATCH_LEVEL: there one attempt is all.
        if (KeGetCurrentIrql() >= DISPATCH_LEVEL) return false;
        // Interrupt time, unlike the system time, cannot be set back.
        LONGLONG now = static_cast<LONGLONG>(KeQueryInterruptTime());
        if (!failedBefore) {
            FirstOpenFailure = now;
            failedBefore = true;
        } else if (now - FirstOpenFailure > OpenRetryPeriod) {
            return false;
        }
        LARGE_INTEGER interval;
        interval.QuadPart = I2cRetryInterval;
        KeDelayExecutionThread(KernelMode, FALSE, &interval);
    }
}

bool I2cClient::PerformTransfer(I2cTransfer& transfer)
{
    // One atomic step, so a timer on another processor cannot take the
    // client together with a request.
    uint32_t idle = 0;
    if (!__atomic_compare_exchange_n(&InUse, &idle, 1u, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) return false;

    bool result = false;
    if (Cookie != 0) {
        result = ExecuteTransfer(transfer);
    } else if (OpenBusWithRetry()) {
        result = ExecuteTransfer(transfer);
        CloseBus();
    }

    uint32_t busy = 1;
    __atomic_compare_exchange_n(&InUse, &busy, 0u, false, __ATOMIC_RELEASE, __ATOMIC_RELAXED);
    return result;
}
