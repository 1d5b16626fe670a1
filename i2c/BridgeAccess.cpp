// One bridge call, with the poll of a command the bridge is still running.
#include "i2c/BridgeCalls.h"
#include "i2c/I2cClient.h"
#include "platform/Hal.h"
#include "platform/Kernel.h"

namespace {

// Outcome when the i2cAccess routine itself failed.
constexpr uint32_t RoutineFailed = 2;
// Below DISPATCH_LEVEL a byte still busy after this much polling has failed.
constexpr LONGLONG BusyPollLimit = 10000000;  // 1 s in 100 ns units
// At DISPATCH_LEVEL nothing may wait: a few immediate re-polls, then failure.
constexpr uint32_t BusyRepollsAtDispatch = 8;

}  // namespace

uint32_t I2cClient::AccessI2c(DEVICE_OBJECT* device, I2CControl& control)
{
    uint32_t repolls = 0;
    bool mayWait = false;
    LONGLONG firstBusy = 0;
    for (;;) {
        if (BridgeInterface.i2cAccess(device, &control) != STATUS_SUCCESS) return RoutineFailed;
        if (control.Status != I2C_STATUS_BUSY) return control.Status;

        if (repolls == 0) {
            mayWait = KeGetCurrentIrql() < DISPATCH_LEVEL;
            if (mayWait) firstBusy = static_cast<LONGLONG>(KeQueryInterruptTime());
        }
        if (mayWait) {
            LONGLONG now = static_cast<LONGLONG>(KeQueryInterruptTime());
            if (now - firstBusy > BusyPollLimit) return control.Status;
            LARGE_INTEGER interval;
            interval.QuadPart = I2cRetryInterval;
            KeDelayExecutionThread(KernelMode, FALSE, &interval);
        } else if (repolls == BusyRepollsAtDispatch) {
            return control.Status;  // still busy: the byte counts as failed
        }
        ++repolls;
        control.Command = I2C_COMMAND_STATUS;
    }
}
