// The simulated capture bridge driver: the physical device object below the
// tuner driver that lends out its I2C bus through GUID_I2C_INTERFACE, and the
// bus master behind i2cOpen/i2cAccess, with fault injection and a record of
// every call for tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "i2c/BridgeInterface.h"
#include "platform/Kernel.h"
#include "sim/bus/I2cBus.h"

namespace sim {

// What the bridge gives for IRP_MN_QUERY_INTERFACE with GUID_I2C_INTERFACE.
enum class InterfaceOffer {
    Offered,
    NotOffered,       // the IRP keeps its preset status, the record stays untouched
    NoOpenRoutine,    // filled, but i2cOpen left null
    NoAccessRoutine,  // filled, but i2cAccess left null
};

// How the query IRP is completed.
enum class QueryCompletion {
    Immediate,           // completed inside the dispatch routine
    PendingOtherThread,  // STATUS_PENDING; another thread completes it shortly after
    PendingExplicit,     // STATUS_PENDING; completed by CompletePendingQuery()
};

// How a refused open is reported.
enum class OpenRefusal {
    ByStatus,    // returns STATUS_SUCCESS with Status I2C_STATUS_ERROR
    ByReturn,    // returns STATUS_UNSUCCESSFUL
    ZeroCookie,  // claims success but hands out dwCookie 0 (the bus stays free)
};

constexpr uint32_t Always = UINT32_MAX;

struct BridgeNotification {
    ULONG Kind = 0;      // I2C_NOTIFY_COUNTRY, _STANDARD or _MODE
    uint32_t Value = 0;  // 32 bits from Data on for country and standard; Data alone for the mode
    BYTE Reserved[3] = {0, 0, 0};  // as received
    DWORD Cookie = 0;
    int64_t Time = 0;
};

// One call of i2cOpen or i2cAccess as the bridge saw it.
struct BridgeCall {
    enum Routine { Open, Access } Kind = Access;
    ULONG ToOpen = 0;      // i2cOpen only
    I2CControl In{};       // the block as handed over
    I2CControl Out{};      // the block as given back
    NTSTATUS Returned = 0;
    KIRQL Irql = 0;
    int64_t Time = 0;
};

struct BridgeCounters {
    uint32_t Queries = 0;        // IRP_MN_QUERY_INTERFACE for the I2C interface
    uint32_t OpenCalls = 0;      // i2cOpen(TRUE)
    uint32_t CloseCalls = 0;     // i2cOpen(FALSE)
    uint32_t AccessCalls = 0;    // every i2cAccess
    uint32_t ByteCommands = 0;   // READ and WRITE
    uint32_t StatusPolls = 0;
    uint32_t Resets = 0;
    uint32_t Notifications = 0;  // accepted ones
    uint32_t Refused = 0;        // calls turned away (cookie, clock, closed bus, faults)
};

class CaptureBridge {
public:
    using NotificationListener = std::function<void(const BridgeNotification&)>;
    using CallListener = std::function<void(const BridgeCall&)>;

    explicit CaptureBridge(I2cBus& bus);
    ~CaptureBridge();
    CaptureBridge(const CaptureBridge&) = delete;
    CaptureBridge& operator=(const CaptureBridge&) = delete;

    DEVICE_OBJECT* Device() const { return device_; }
    I2cBus& Bus() { return bus_; }

    // ---- The interface query -------------------------------------------------------
    void SetInterfaceOffer(InterfaceOffer offer);
    void SetQueryCompletion(QueryCompletion completion);
    bool QueryPending() const;
    // Completes a query held back by PendingExplicit; false when none is held.
    bool CompletePendingQuery();
    // Waits (real time) until a query is held back; for tests that complete it
    // from a second thread while the driver waits.
    bool WaitForPendingQuery(std::chrono::milliseconds timeout);
    // References handed out by the query minus those given back.
    int32_t InterfaceReferences() const;

    // ---- Strictness ------------------------------------------------------------------
    // Calls above this IRQL are violations (the interface promises PASSIVE_LEVEL
    // only); a test may model a bridge that allows more.
    void SetMaxIrql(KIRQL irql);

    // ---- Fault injection ---------------------------------------------------------------
    // Bytes count READ and WRITE commands from the moment the fault is armed,
    // starting at 1.
    void RefuseOpens(uint32_t count, OpenRefusal how = OpenRefusal::ByStatus);  // count may be Always
    void RefuseCloses(bool refuse);
    void FailAccessAtByte(uint32_t byte);   // i2cAccess returns STATUS_UNSUCCESSFUL, nothing on the bus
    void ErrorAtByte(uint32_t byte);        // answers I2C_STATUS_ERROR, nothing on the bus
    // The byte answers I2C_STATUS_BUSY busyAnswers times (its own call included)
    // and takes effect at the status poll after that; busyAnswers may be Always.
    void BusyAtByte(uint32_t byte, uint32_t busyAnswers);
    void BusyOnEveryByte(uint32_t busyAnswers);
    void RefuseNotifications(bool refuse);
    void ClearFaults();

    // ---- State and records -------------------------------------------------------------
    bool IsOpen() const;
    DWORD OwnerCookie() const;
    BridgeCounters Counters() const;
    std::vector<BridgeCall> Calls() const;
    std::vector<BridgeNotification> Notifications() const;
    void ClearRecords();  // calls, notifications and counters
    int AddNotificationListener(NotificationListener listener);
    void RemoveNotificationListener(int id);
    // Called after every i2cOpen and i2cAccess (outside the bridge's lock), so a
    // test can act at an exact point of a transfer.
    int AddCallListener(CallListener listener);
    void RemoveCallListener(int id);

    // The routines handed out in I2CINTERFACE.
    static NTSTATUS NTAPI I2cOpen(DEVICE_OBJECT* device, ULONG toOpen, I2CControl* control);
    static NTSTATUS NTAPI I2cAccess(DEVICE_OBJECT* device, I2CControl* control);
    static void NTAPI InterfaceReference(PVOID context);
    static void NTAPI InterfaceDereference(PVOID context);

private:
    struct PendingByte {
        I2CControl Command{};     // the command as issued
        uint32_t BusyLeft = 0;    // busy answers still to give
    };

    static CaptureBridge* FromDevice(DEVICE_OBJECT* device, const char* routine);
    NTSTATUS Dispatch(IRP* irp);
    void FillInterface(I2CINTERFACE* record);
    void CompleteQuery(IRP* irp);
    NTSTATUS Open(ULONG toOpen, I2CControl& control);
    NTSTATUS Access(I2CControl& control, std::optional<BridgeNotification>& notification);
    void Notify(I2CControl& control, std::optional<BridgeNotification>& notification);
    // Puts one READ or WRITE on the bus; returns the I2C status.
    ULONG CarryOut(I2CControl& control);
    void CheckIrql(const char* routine);
    // Keeps the call and returns the listeners to tell once unlocked.
    std::vector<CallListener> Record(const BridgeCall& call);
    void Refuse(I2CControl& control);

    I2cBus& bus_;
    DEVICE_OBJECT* device_ = nullptr;

    mutable std::recursive_mutex mutex_;
    std::condition_variable_any pendingChanged_;
    InterfaceOffer offer_ = InterfaceOffer::Offered;
    QueryCompletion completion_ = QueryCompletion::Immediate;
    IRP* pendingQuery_ = nullptr;
    std::vector<std::thread> completers_;
    int32_t references_ = 0;
    KIRQL maxIrql_ = PASSIVE_LEVEL;

    DWORD owner_ = 0;
    DWORD nextCookie_ = 0x1000;
    std::optional<PendingByte> running_;
    ULONG lastStatus_ = I2C_STATUS_NOERROR;
    BYTE lastData_ = 0;

    uint32_t refuseOpens_ = 0;
    OpenRefusal refusal_ = OpenRefusal::ByStatus;
    bool refuseCloses_ = false;
    bool refuseNotifications_ = false;
    uint32_t byteSerial_ = 0;  // READ and WRITE commands ever issued; faults aim at a serial
    uint32_t failAccessAt_ = 0;
    uint32_t errorAt_ = 0;
    uint32_t busyAt_ = 0;
    bool busyEveryByte_ = false;
    uint32_t busyAnswers_ = 0;

    BridgeCounters counters_;
    std::vector<BridgeCall> calls_;
    std::vector<BridgeNotification> notifications_;
    std::map<int, NotificationListener> listeners_;
    std::map<int, CallListener> callListeners_;
    int nextListenerId_ = 1;
};

}  // namespace sim
