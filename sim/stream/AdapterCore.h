// Inside the simulated class driver: one adapter's memory, its requests and
// the checks made on them.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/stream/GuardedBlock.h"
#include "sim/stream/StreamClass.h"

namespace sim {

class AdapterCore;

class RequestState {
public:
    std::shared_ptr<AdapterCore> Owner;
    Request Sent;
    std::vector<std::unique_ptr<stream::GuardedBlock>> Blocks;
    HW_STREAM_REQUEST_BLOCK* Srb = nullptr;
    stream::GuardedBlock* DataBlock = nullptr;  // property data buffer or stream descriptor
    PVOID SentExtension = nullptr;
    Result Outcome;
    bool Finished = false;  // completed, answered by the class driver, or given up
    bool PoisonReported = false;

    std::string Describe() const;
};

// The class driver's copy of a registered property set.
struct PropertyItemCopy {
    ULONG Id = 0;
    bool Get = false;
    bool Set = false;
    ULONG MinProperty = 0;
    ULONG MinData = 0;
};

struct PropertySetCopy {
    GUID Set{};
    std::vector<PropertyItemCopy> Items;
};

class AdapterCore : public std::enable_shared_from_this<AdapterCore> {
public:
    AdapterCore(std::shared_ptr<LoadedDriver> driver, const AdapterConfig& config);
    ~AdapterCore();

    void SetHooks(RequestHooks hooks);
    std::shared_ptr<RequestState> Submit(const Request& request);
    Result Wait(RequestState& state);
    void Complete(const std::shared_ptr<RequestState>& state, PVOID extensionArgument);
    void CallCancelRoutine(RequestState& state, bool timeout);
    // The end of the adapter: stops it if it is still started, then checks
    // that nothing was left unfinished or touched afterwards.
    void Shutdown();

    void* Extension() const { return extension_ ? extension_->Data() : nullptr; }
    DEVICE_OBJECT* ClassDevice() const { return classDevice_; }
    const PORT_CONFIGURATION_INFORMATION& ConfigInfo() const { return *configInfo_; }
    std::optional<HW_STREAM_HEADER> Header() const;
    bool Started() const;
    bool Finished(const RequestState& state) const;
    const HW_INITIALIZATION_DATA& Registration() const { return driver_->Registration(); }

private:
    void Build(RequestState& state);
    std::optional<NTSTATUS> CheckProperty(const Request& request, ULONG* setIndex) const;
    void AnswerHere(RequestState& state, NTSTATUS status);
    void CallDriver(void(NTAPI* routine)(HW_STREAM_REQUEST_BLOCK*), HW_STREAM_REQUEST_BLOCK* srb, const char* name);
    void RecordOutcome(RequestState& state, std::vector<std::string>& problems);
    void KeepStreamInformation(const RequestState& state, std::vector<std::string>& problems);
    void QuiescentChecksLocked(std::vector<std::string>& problems);
    void CheckQuarantinedLocked(RequestState& state, std::vector<std::string>& problems);
    void CheckExtensionAfterStopLocked(std::vector<std::string>& problems);

    std::shared_ptr<LoadedDriver> driver_;
    AdapterConfig config_;
    std::unique_ptr<stream::GuardedBlock> extension_;
    std::unique_ptr<stream::GuardedBlock> configBlock_;
    PORT_CONFIGURATION_INFORMATION* configInfo_ = nullptr;
    DEVICE_OBJECT* classDevice_ = nullptr;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::recursive_mutex cancelMutex_;
    RequestHooks hooks_;
    int callsInside_ = 0;
    bool started_ = false;
    bool stopped_ = false;
    bool shutDown_ = false;
    std::optional<HW_STREAM_HEADER> header_;
    std::vector<PropertySetCopy> propertySets_;
    std::vector<uint8_t> extensionAtStop_;
    bool extensionChangeReported_ = false;
    std::vector<std::shared_ptr<RequestState>> recent_;       // completed since the last quiet moment
    std::deque<std::shared_ptr<RequestState>> quarantine_;    // completed, memory kept poisoned
};

namespace stream {
// Requests handed to a minidriver and not completed yet, across adapters.
void AddOutstanding(const std::shared_ptr<RequestState>& state);
std::shared_ptr<RequestState> TakeOutstanding(HW_STREAM_REQUEST_BLOCK* srb);
std::vector<std::shared_ptr<RequestState>> TakeOutstandingOf(const AdapterCore* adapter);
std::vector<std::shared_ptr<RequestState>> OutstandingOf(const AdapterCore* adapter);
void EnsureLifecycleHooks();
}  // namespace stream

}  // namespace sim
