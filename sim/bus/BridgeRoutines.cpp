// i2cOpen and i2cAccess of the simulated capture bridge: one owner of the bus
// at a time, one command per call, as strict as a careful bridge would be.
#include <string>

#include "sim/Kernel.h"
#include "sim/bus/CaptureBridge.h"

namespace sim {
namespace {

constexpr ULONG ByteFlags = I2C_FLAGS_START | I2C_FLAGS_STOP | I2C_FLAGS_ACK;
constexpr ULONG FastestClockRate = 400000;

bool ReservedClear(const I2CControl& control)
{
    return control.Reserved[0] == 0 && control.Reserved[1] == 0 && control.Reserved[2] == 0;
}

}  // namespace

void CaptureBridge::CheckIrql(const char* routine)
{
    KIRQL irql = CurrentIrql();
    if (irql > maxIrql_) {
        ReportViolation(std::string(routine) + " of the capture bridge called at IRQL " + std::to_string(irql) +
                        " (allowed up to " + std::to_string(maxIrql_) + ")");
    }
}

void CaptureBridge::Refuse(I2CControl& control)
{
    ++counters_.Refused;
    control.Status = I2C_STATUS_ERROR;
}

NTSTATUS NTAPI CaptureBridge::I2cOpen(DEVICE_OBJECT* device, ULONG toOpen, I2CControl* control)
{
    CaptureBridge* bridge = FromDevice(device, "i2cOpen");
    if (bridge == nullptr) return STATUS_INVALID_PARAMETER;
    if (control == nullptr) {
        ReportViolation("i2cOpen without a control block");
        return STATUS_INVALID_PARAMETER;
    }
    BridgeCall call;
    std::vector<CallListener> callListeners;
    {
        std::lock_guard<std::recursive_mutex> lock(bridge->mutex_);
        bridge->CheckIrql("i2cOpen");
        call.Kind = BridgeCall::Open;
        call.ToOpen = toOpen;
        call.In = *control;
        call.Irql = CurrentIrql();
        call.Time = InterruptTime();
        call.Returned = bridge->Open(toOpen, *control);
        call.Out = *control;
        callListeners = bridge->Record(call);
    }
    for (CallListener& listener : callListeners) listener(call);
    return call.Returned;
}

NTSTATUS CaptureBridge::Open(ULONG toOpen, I2CControl& control)
{
    if (toOpen != FALSE) {
        ++counters_.OpenCalls;
        if (refuseOpens_ != 0) {
            if (refuseOpens_ != Always) --refuseOpens_;
            ++counters_.Refused;
            control.dwCookie = 0;
            switch (refusal_) {
            case OpenRefusal::ByReturn:
                return STATUS_UNSUCCESSFUL;
            case OpenRefusal::ZeroCookie:
                control.Status = I2C_STATUS_NOERROR;
                return STATUS_SUCCESS;
            case OpenRefusal::ByStatus:
                control.Status = I2C_STATUS_ERROR;
                return STATUS_SUCCESS;
            }
        }
        if (owner_ != 0) {  // one owner at a time
            control.dwCookie = 0;
            Refuse(control);
            return STATUS_SUCCESS;
        }
        if (++nextCookie_ == 0) ++nextCookie_;
        owner_ = nextCookie_;
        control.dwCookie = owner_;
        control.Status = I2C_STATUS_NOERROR;
        return STATUS_SUCCESS;
    }

    ++counters_.CloseCalls;
    if (refuseCloses_ || owner_ == 0 || control.dwCookie != owner_) {
        Refuse(control);
        return STATUS_SUCCESS;
    }
    owner_ = 0;
    running_.reset();
    control.Status = I2C_STATUS_NOERROR;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI CaptureBridge::I2cAccess(DEVICE_OBJECT* device, I2CControl* control)
{
    CaptureBridge* bridge = FromDevice(device, "i2cAccess");
    if (bridge == nullptr) return STATUS_INVALID_PARAMETER;
    if (control == nullptr) {
        ReportViolation("i2cAccess without a control block");
        return STATUS_INVALID_PARAMETER;
    }
    std::optional<BridgeNotification> notification;
    std::vector<NotificationListener> listeners;
    std::vector<CallListener> callListeners;
    BridgeCall call;
    {
        std::lock_guard<std::recursive_mutex> lock(bridge->mutex_);
        bridge->CheckIrql("i2cAccess");
        ++bridge->counters_.AccessCalls;
        call.Kind = BridgeCall::Access;
        call.In = *control;
        call.Irql = CurrentIrql();
        call.Time = InterruptTime();
        call.Returned = bridge->Access(*control, notification);
        call.Out = *control;
        callListeners = bridge->Record(call);
        if (notification) {
            for (auto& [id, listener] : bridge->listeners_) listeners.push_back(listener);
        }
    }
    for (NotificationListener& listener : listeners) listener(*notification);
    for (CallListener& listener : callListeners) listener(call);
    return call.Returned;
}

NTSTATUS CaptureBridge::Access(I2CControl& control, std::optional<BridgeNotification>& notification)
{
    if (control.ClockRate == 0 || control.ClockRate > FastestClockRate) {
        Refuse(control);
        return STATUS_SUCCESS;
    }
    if (control.Command == I2C_COMMAND_NOTIFY) {
        Notify(control, notification);
        return STATUS_SUCCESS;
    }
    if (owner_ == 0 || control.dwCookie != owner_) {  // the bus is not open for this caller
        Refuse(control);
        return STATUS_SUCCESS;
    }

    switch (control.Command) {
    case I2C_COMMAND_RESET:
        ++counters_.Resets;
        running_.reset();
        bus_.Reset();
        lastStatus_ = control.Status = I2C_STATUS_NOERROR;
        return STATUS_SUCCESS;

    case I2C_COMMAND_STATUS:
        ++counters_.StatusPolls;
        if (!running_) {
            control.Status = lastStatus_;
            control.Data = lastData_;
            return STATUS_SUCCESS;
        }
        if (running_->BusyLeft != 0) {
            if (running_->BusyLeft != Always) --running_->BusyLeft;
            control.Status = I2C_STATUS_BUSY;
            return STATUS_SUCCESS;
        }
        {
            I2CControl command = running_->Command;
            running_.reset();
            control.Status = CarryOut(command);
            control.Data = command.Data;
        }
        return STATUS_SUCCESS;

    case I2C_COMMAND_READ:
    case I2C_COMMAND_WRITE:
        break;

    default:
        Refuse(control);
        return STATUS_SUCCESS;
    }

    if (!ReservedClear(control)) {
        ReportViolation("i2cAccess byte command with non-zero Reserved bytes (an uninitialised control block)");
        Refuse(control);
        return STATUS_SUCCESS;
    }
    if (running_) {
        ReportViolation("i2cAccess byte command while the previous one is still running (not polled to its end)");
        Refuse(control);
        return STATUS_SUCCESS;
    }
    ++counters_.ByteCommands;
    uint32_t serial = ++byteSerial_;
    if (serial == failAccessAt_) {
        failAccessAt_ = 0;
        ++counters_.Refused;
        return STATUS_UNSUCCESSFUL;
    }
    if (serial == errorAt_) {
        errorAt_ = 0;
        Refuse(control);
        lastStatus_ = I2C_STATUS_ERROR;
        return STATUS_SUCCESS;
    }
    bool busy = busyEveryByte_ || serial == busyAt_;
    if (serial == busyAt_) busyAt_ = 0;
    if (busy && busyAnswers_ != 0) {
        running_ = PendingByte{control, busyAnswers_ == Always ? Always : busyAnswers_ - 1};
        lastStatus_ = control.Status = I2C_STATUS_BUSY;
        return STATUS_SUCCESS;
    }
    control.Status = CarryOut(control);
    return STATUS_SUCCESS;
}

ULONG CaptureBridge::CarryOut(I2CControl& control)
{
    bool start = (control.Flags & I2C_FLAGS_START) != 0;
    bool stop = (control.Flags & I2C_FLAGS_STOP) != 0;
    bool ack = (control.Flags & I2C_FLAGS_ACK) != 0;
    ULONG status = I2C_STATUS_NOERROR;
    if ((control.Flags & ~ByteFlags) != 0 || (start && control.Command == I2C_COMMAND_READ)) {
        ++counters_.Refused;
        status = I2C_STATUS_ERROR;
    } else if (control.Command == I2C_COMMAND_WRITE) {
        bool acked = start ? bus_.Start(control.Data) : bus_.Write(control.Data);
        // A byte left unacknowledged holds the bus until the master resets it.
        if (!acked) {
            status = I2C_STATUS_ERROR;
        } else if (stop) {
            bus_.Stop();
        }
    } else {
        control.Data = bus_.Read(ack);
        if (stop) bus_.Stop();
    }
    lastStatus_ = status;
    lastData_ = control.Data;
    return status;
}

void CaptureBridge::Notify(I2CControl& control, std::optional<BridgeNotification>& notification)
{
    bool cookieAccepted = control.dwCookie == 0 || control.dwCookie == owner_;
    ULONG kind = control.Flags;
    bool known = kind == I2C_NOTIFY_COUNTRY || kind == I2C_NOTIFY_STANDARD || kind == I2C_NOTIFY_MODE;
    if (!cookieAccepted || !known || refuseNotifications_) {
        Refuse(control);
        return;
    }
    BridgeNotification n;
    n.Kind = kind;
    n.Value = control.Data;
    if (kind != I2C_NOTIFY_MODE) {
        n.Value |= uint32_t(control.Reserved[0]) << 8 | uint32_t(control.Reserved[1]) << 16 |
                   uint32_t(control.Reserved[2]) << 24;
    }
    for (int i = 0; i < 3; ++i) n.Reserved[i] = control.Reserved[i];
    n.Cookie = control.dwCookie;
    n.Time = InterruptTime();
    ++counters_.Notifications;
    notifications_.push_back(n);
    notification = n;
    control.Status = I2C_STATUS_NOERROR;
}

}  // namespace sim
