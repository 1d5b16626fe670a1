// The simulated stream class driver: it loads the minidriver through its
// entry point, creates adapters, builds the device requests a streaming
// client causes and delivers them as SRBs, and checks how the minidriver
// treats them (completed once, never touched afterwards, no spin lock held
// across a completion, ...), reporting every broken rule through
// sim::ReportViolation.
//
// The simulation does not link the driver: it gets the entry point as a
// function pointer.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Kernel.h"
#include "platform/StreamClass.h"

namespace sim {

// Statuses the class driver itself answers with.
constexpr NTSTATUS STATUS_NOT_FOUND = static_cast<NTSTATUS>(0xC0000225u);
constexpr NTSTATUS STATUS_REVISION_MISMATCH = static_cast<NTSTATUS>(0xC0000059u);

using DriverEntryRoutine = NTSTATUS(NTAPI*)(DRIVER_OBJECT* driverObject, UNICODE_STRING* registryPath);

// ---- Loading -------------------------------------------------------------------

class LoadedDriver {
public:
    NTSTATUS EntryStatus() const { return entryStatus_; }
    bool Registered() const { return registered_; }
    // The copy kept at registration.
    const HW_INITIALIZATION_DATA& Registration() const { return registration_; }

private:
    friend struct DriverLoading;
    NTSTATUS entryStatus_ = STATUS_UNSUCCESSFUL;
    bool registered_ = false;
    HW_INITIALIZATION_DATA registration_{};
    std::vector<uint8_t> driverObject_;
    std::u16string registryPathText_;
    UNICODE_STRING registryPath_{};
};

// Calls the entry point at PASSIVE_LEVEL, as the I/O manager does. The
// registration it makes is checked and kept.
std::shared_ptr<LoadedDriver> LoadDriver(DriverEntryRoutine entry);

// ---- Requests --------------------------------------------------------------------

struct PropertyPayload {
    bool Set = false;
    std::vector<uint8_t> Property;  // the KSPROPERTY and the input fields behind it
    std::vector<uint8_t> Data;      // the data buffer as handed to the minidriver
};

struct IrpPayload {
    UCHAR MajorFunction = IRP_MJ_POWER;
    UCHAR MinorFunction = IRP_MN_SET_POWER;
    POWER_STATE_TYPE Type = DevicePowerState;
    ULONG State = 0;
};

struct Request {
    SRB_COMMAND Command = SRB_GET_STREAM_INFO;
    std::string Name;  // how traces show it
    std::optional<PropertyPayload> Property;
    std::optional<IrpPayload> Irp;
    ULONG CommandData = 0;  // a raw value (device power state, ...) when nothing else fills it
    bool WithDeviceExtension = true;
    bool WithRequestExtension = true;
    // Property requests are checked against the registered property set
    // first and refused by the class driver itself, as the real one does.
    bool ClassDriverChecks = true;
};

struct Result {
    NTSTATUS Status = STATUS_PENDING;
    ULONG ActualBytesTransferred = 0;
    // A property get: exactly ActualBytesTransferred bytes of the data
    // buffer. SRB_GET_STREAM_INFO: the whole stream descriptor.
    std::vector<uint8_t> Data;
    bool AnsweredByClassDriver = false;
    bool Completed = false;

    // The record as far as the returned bytes reach; none when they fall short.
    template <typename Record>
    std::optional<Record> As() const
    {
        if (Data.size() < sizeof(Record)) return std::nullopt;
        Record record;
        std::memcpy(&record, Data.data(), sizeof(Record));
        return record;
    }
};

// Per-request observers. Before runs on the sending thread just before the
// request is looked at; After runs when the request is finished (on the thread
// that completed it), also for requests the class driver answered itself.
struct RequestHooks {
    std::function<void(const Request&)> Before;
    std::function<void(const Request&, const Result&)> After;
};

class RequestState;

// A request handed to the minidriver that may still be waiting in its queue.
class PendingRequest {
public:
    explicit PendingRequest(std::shared_ptr<RequestState> state) : state_(std::move(state)) {}
    bool Completed() const;
    // Waits until the minidriver completes the request. A request that is not
    // complete while no call into the minidriver runs will never be: that is
    // reported, and the result stays incomplete.
    Result Wait();
    HW_STREAM_REQUEST_BLOCK* Srb() const;

private:
    friend class Adapter;
    std::shared_ptr<RequestState> state_;
};

// ---- Adapters --------------------------------------------------------------------

struct AdapterConfig {
    DEVICE_OBJECT* PhysicalDeviceObject = nullptr;      // the bridge's device (I2C interface)
    DEVICE_OBJECT* RealPhysicalDeviceObject = nullptr;  // whose driver key holds the configuration
    ULONG NumberOfAccessRanges = 0;
};

struct StartResult {
    Result Initialize;
    std::optional<Result> StreamInfo;              // sent only after a successful initialization
    std::optional<Result> InitializationComplete;  // sent only after the stream information
    bool Succeeded() const
    {
        return Initialize.Status == STATUS_SUCCESS && StreamInfo && StreamInfo->Status == STATUS_SUCCESS &&
               InitializationComplete && InitializationComplete->Status == STATUS_SUCCESS;
    }
};

class AdapterCore;

class Adapter {
public:
    Adapter(std::shared_ptr<LoadedDriver> driver, const AdapterConfig& config);
    // Stops a started adapter (without calling the hooks), then checks that
    // every request was finished and nothing was touched afterwards.
    ~Adapter();
    Adapter(const Adapter&) = delete;
    Adapter& operator=(const Adapter&) = delete;

    void SetHooks(RequestHooks hooks);

    // The start sequence: SRB_INITIALIZE_DEVICE, SRB_GET_STREAM_INFO with a
    // descriptor of the announced size, SRB_INITIALIZATION_COMPLETE; each
    // only after the one before succeeded.
    StartResult Start();
    Result Initialize();
    Result GetStreamInfo();
    Result CompleteInitialization();
    Result Stop();  // SRB_UNINITIALIZE_DEVICE

    Result Send(const Request& request);
    // Delivers the request on the calling thread and returns as soon as the
    // minidriver returns from its receive routine.
    PendingRequest Submit(const Request& request);
    // The class driver's cancel and time-out calls for a request still held.
    void Cancel(const PendingRequest& request);
    void TimeOut(const PendingRequest& request);
    // The requests the minidriver holds now, in no particular order.
    std::vector<PendingRequest> Outstanding() const;

    void* DeviceExtension() const;
    DEVICE_OBJECT* ClassDeviceObject() const;
    const PORT_CONFIGURATION_INFORMATION& ConfigInfo() const;
    // The stream header from SRB_GET_STREAM_INFO, if it succeeded.
    std::optional<HW_STREAM_HEADER> StreamHeader() const;

private:
    Result SendRaw(SRB_COMMAND command, const char* name);

    std::shared_ptr<AdapterCore> core_;
};

}  // namespace sim
