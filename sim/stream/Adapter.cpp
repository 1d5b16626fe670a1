// One adapter of the simulated class driver: the memory it lends the
// minidriver, the requests it builds and delivers, and the checks it makes
// on what comes back.
#include <cstring>
#include <sstream>

#include "sim/Kernel.h"
#include "sim/stream/AdapterCore.h"
#include "sim/stream/Requests.h"

namespace sim {
namespace {

using stream::GuardedBlock;

constexpr size_t QuarantineLimit = 2048;  // completed requests whose memory is kept poisoned
constexpr ULONG DeviceRequestTimeoutSeconds = 15;
constexpr CSHORT IoTypeIrp = 6;
constexpr CCHAR PowerIrpStackSize = 2;

void ReportAll(const std::vector<std::string>& problems)
{
    for (const std::string& problem : problems) ReportViolation(problem);
}

bool IsPropertyCommand(SRB_COMMAND command)
{
    return command == SRB_GET_DEVICE_PROPERTY || command == SRB_SET_DEVICE_PROPERTY;
}

}  // namespace

std::string RequestState::Describe() const
{
    std::ostringstream text;
    text << (Sent.Name.empty() ? "request" : Sent.Name) << " (SRB command 0x" << std::hex << int(Sent.Command)
         << ", SRB " << static_cast<const void*>(Srb) << ")";
    return text.str();
}

AdapterCore::AdapterCore(std::shared_ptr<LoadedDriver> driver, const AdapterConfig& config)
    : driver_(std::move(driver)), config_(config)
{
    stream::EnsureLifecycleHooks();
    if (!driver_->Registered()) ReportViolation("adapter created for a driver that did not register");
    extension_ = std::make_unique<GuardedBlock>(driver_->Registration().DeviceExtensionSize);
    classDevice_ = CreateDevice([](DEVICE_OBJECT*, IRP*) -> NTSTATUS {
        ReportViolation("an IRP was sent to the class driver's device object, which takes none in the simulation");
        return STATUS_NOT_SUPPORTED;
    });
    configBlock_ = std::make_unique<GuardedBlock>(sizeof(PORT_CONFIGURATION_INFORMATION));
    configInfo_ = reinterpret_cast<PORT_CONFIGURATION_INFORMATION*>(configBlock_->Data());
    configInfo_->SizeOfThisPacket = sizeof(PORT_CONFIGURATION_INFORMATION);
    configInfo_->HwDeviceExtension = extension_->Data();
    configInfo_->ClassDeviceObject = classDevice_;
    configInfo_->PhysicalDeviceObject = config_.PhysicalDeviceObject;
    configInfo_->NumberOfAccessRanges = config_.NumberOfAccessRanges;
    configInfo_->RealPhysicalDeviceObject = config_.RealPhysicalDeviceObject;
}

AdapterCore::~AdapterCore() = default;

void AdapterCore::SetHooks(RequestHooks hooks)
{
    std::lock_guard<std::mutex> lock(mutex_);
    hooks_ = std::move(hooks);
}

std::optional<HW_STREAM_HEADER> AdapterCore::Header() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return header_;
}

bool AdapterCore::Finished(const RequestState& state) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return state.Finished;
}

bool AdapterCore::Started() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return started_ && !stopped_;
}

// As the class driver checks a property request before the minidriver sees
// it; the status it answers with, or none when the request may pass.
std::optional<NTSTATUS> AdapterCore::CheckProperty(const Request& request, ULONG* setIndex) const
{
    const PropertyPayload& property = *request.Property;
    if (property.Property.size() < sizeof(KSPROPERTY)) return STATUS_BUFFER_TOO_SMALL;
    KSPROPERTY header;
    std::memcpy(&header, property.Property.data(), sizeof(header));

    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < propertySets_.size(); ++i) {
        if (!IsEqualGuid(propertySets_[i].Set, header.Set)) continue;
        for (const PropertyItemCopy& item : propertySets_[i].Items) {
            if (item.Id != header.Id) continue;
            if (!(property.Set ? item.Set : item.Get)) return STATUS_NOT_FOUND;
            if (property.Property.size() < item.MinProperty || property.Data.size() < item.MinData)
                return STATUS_BUFFER_TOO_SMALL;
            *setIndex = ULONG(i);
            return std::nullopt;
        }
        return STATUS_NOT_FOUND;
    }
    return STATUS_NOT_FOUND;
}

void AdapterCore::Build(RequestState& state)
{
    const Request& request = state.Sent;
    auto block = [&state](size_t size) {
        state.Blocks.push_back(std::make_unique<GuardedBlock>(size));
        return state.Blocks.back().get();
    };

    auto* srb = reinterpret_cast<HW_STREAM_REQUEST_BLOCK*>(block(sizeof(HW_STREAM_REQUEST_BLOCK))->Data());
    state.Srb = srb;
    srb->SizeOfThisPacket = sizeof(HW_STREAM_REQUEST_BLOCK);
    srb->Command = request.Command;
    srb->Status = STATUS_PENDING;
    srb->TimeoutCounter = DeviceRequestTimeoutSeconds;
    srb->TimeoutOriginal = DeviceRequestTimeoutSeconds;
    if (request.WithDeviceExtension) srb->HwDeviceExtension = extension_->Data();
    state.SentExtension = srb->HwDeviceExtension;
    ULONG extensionSize = driver_->Registration().PerRequestExtensionSize;
    if (request.WithRequestExtension && extensionSize != 0) srb->SRBExtension = block(extensionSize)->Data();

    std::memcpy(&srb->CommandData, &request.CommandData, sizeof(request.CommandData));
    if (request.Command == SRB_INITIALIZE_DEVICE) {
        srb->CommandData.ConfigInfo = configInfo_;
    } else if (request.Command == SRB_GET_STREAM_INFO) {
        state.DataBlock = block(configInfo_->StreamDescriptorSize);
        srb->CommandData.StreamBuffer = reinterpret_cast<HW_STREAM_DESCRIPTOR*>(state.DataBlock->Data());
    }
    if (request.Property) {
        const PropertyPayload& property = *request.Property;
        auto* descriptor =
            reinterpret_cast<STREAM_PROPERTY_DESCRIPTOR*>(block(sizeof(STREAM_PROPERTY_DESCRIPTOR))->Data());
        GuardedBlock* input = block(property.Property.size());
        std::memcpy(input->Data(), property.Property.data(), property.Property.size());
        state.DataBlock = block(property.Data.size());
        std::memcpy(state.DataBlock->Data(), property.Data.data(), property.Data.size());
        descriptor->Property = reinterpret_cast<KSPROPERTY*>(input->Data());
        descriptor->PropertyInfo = state.DataBlock->Data();
        descriptor->PropertyInputSize = ULONG(property.Property.size());
        descriptor->PropertyOutputSize = ULONG(property.Data.size());
        srb->CommandData.PropertyInfo = descriptor;
    }
    if (request.Irp) {
        GuardedBlock* memory = block(sizeof(IRP) + PowerIrpStackSize * sizeof(IO_STACK_LOCATION));
        auto* irp = reinterpret_cast<IRP*>(memory->Data());
        auto* stack = reinterpret_cast<IO_STACK_LOCATION*>(memory->Data() + sizeof(IRP));
        irp->Type = IoTypeIrp;
        irp->Size = USHORT(memory->Size());
        irp->StackCount = PowerIrpStackSize;
        // The class driver's own location is the current one.
        irp->CurrentLocation = PowerIrpStackSize;
        irp->Tail.Overlay.CurrentStackLocation = &stack[PowerIrpStackSize - 1];
        IO_STACK_LOCATION* current = irp->Tail.Overlay.CurrentStackLocation;
        current->MajorFunction = request.Irp->MajorFunction;
        current->MinorFunction = request.Irp->MinorFunction;
        current->Parameters.Power.Type = request.Irp->Type;
        current->Parameters.Power.State.DeviceState = DEVICE_POWER_STATE(request.Irp->State);
        current->DeviceObject = classDevice_;
        srb->Irp = irp;
    }
}

void AdapterCore::AnswerHere(RequestState& state, NTSTATUS status)
{
    state.Outcome.Status = status;
    state.Outcome.AnsweredByClassDriver = true;
    state.Outcome.Completed = true;
    RequestHooks hooks;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hooks = hooks_;
    }
    if (hooks.After) hooks.After(state.Sent, state.Outcome);
    std::lock_guard<std::mutex> lock(mutex_);
    state.Finished = true;
}

std::shared_ptr<RequestState> AdapterCore::Submit(const Request& request)
{
    auto state = std::make_shared<RequestState>();
    state->Owner = shared_from_this();
    state->Sent = request;

    RequestHooks hooks;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hooks = hooks_;
    }
    if (hooks.Before) hooks.Before(request);

    if (CurrentIrql() != PASSIVE_LEVEL) {
        ReportViolation("the simulated class driver delivers device requests at PASSIVE_LEVEL; " + state->Describe() +
                        " was sent at IRQL " + std::to_string(CurrentIrql()));
        AnswerHere(*state, STATUS_UNSUCCESSFUL);
        return state;
    }
    if (!driver_->Registered()) {
        AnswerHere(*state, STATUS_NO_SUCH_DEVICE);
        return state;
    }
    if (request.Command == SRB_GET_STREAM_INFO && configInfo_->StreamDescriptorSize < sizeof(HW_STREAM_HEADER)) {
        ReportViolation("the minidriver announced a stream descriptor of " +
                        std::to_string(configInfo_->StreamDescriptorSize) + " bytes, less than its header");
        AnswerHere(*state, STATUS_UNSUCCESSFUL);
        return state;
    }
    ULONG setIndex = 0;
    if (request.Property && request.ClassDriverChecks && IsPropertyCommand(request.Command)) {
        if (std::optional<NTSTATUS> refusal = CheckProperty(request, &setIndex)) {
            AnswerHere(*state, *refusal);
            return state;
        }
    }

    Build(*state);
    if (request.Property) state->Srb->CommandData.PropertyInfo->PropertySetID = setIndex;
    stream::AddOutstanding(state);
    CallDriver(driver_->Registration().HwReceivePacket, state->Srb, "HwReceivePacket");
    return state;
}

void AdapterCore::CallDriver(void(NTAPI* routine)(HW_STREAM_REQUEST_BLOCK*), HW_STREAM_REQUEST_BLOCK* srb,
                             const char* name)
{
    KIRQL irql = CurrentIrql();
    uint32_t locks = HeldSpinLockCount();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++callsInside_;
    }
    routine(srb);

    std::vector<std::string> problems;
    if (HeldSpinLockCount() != locks) problems.push_back(std::string(name) + " returned holding a spin lock");
    if (CurrentIrql() != irql) {
        problems.push_back(std::string(name) + " returned at IRQL " + std::to_string(CurrentIrql()) +
                           ", entered at " + std::to_string(irql));
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (--callsInside_ == 0) QuiescentChecksLocked(problems);
    }
    changed_.notify_all();
    ReportAll(problems);
}

void AdapterCore::RecordOutcome(RequestState& state, std::vector<std::string>& problems)
{
    HW_STREAM_REQUEST_BLOCK* srb = state.Srb;
    Result& outcome = state.Outcome;
    outcome.Status = srb->Status;
    outcome.ActualBytesTransferred = srb->ActualBytesTransferred;
    if (outcome.Status == STATUS_PENDING) problems.push_back(state.Describe() + " completed with STATUS_PENDING");

    if (state.Sent.Command == SRB_GET_DEVICE_PROPERTY && state.DataBlock != nullptr) {
        size_t returned = outcome.ActualBytesTransferred;
        if (returned > state.DataBlock->Size()) {
            problems.push_back(state.Describe() + " reports " + std::to_string(returned) +
                               " bytes in a data buffer of " + std::to_string(state.DataBlock->Size()));
            returned = state.DataBlock->Size();
        }
        // Only the bytes the minidriver reports reach the client.
        outcome.Data.assign(state.DataBlock->Data(), state.DataBlock->Data() + returned);
    } else if (state.Sent.Command == SRB_GET_STREAM_INFO && state.DataBlock != nullptr) {
        outcome.Data.assign(state.DataBlock->Data(), state.DataBlock->Data() + state.DataBlock->Size());
        if (outcome.Status == STATUS_SUCCESS) KeepStreamInformation(state, problems);
    }
}

// The class driver keeps the stream header and its own copy of the property
// sets, against which it checks the property requests.
void AdapterCore::KeepStreamInformation(const RequestState& state, std::vector<std::string>& problems)
{
    HW_STREAM_HEADER header;
    std::memcpy(&header, state.DataBlock->Data(), sizeof(header));
    uint64_t needed = sizeof(HW_STREAM_HEADER) + uint64_t(header.NumberOfStreams) * header.SizeOfHwStreamInformation;
    if (needed > state.DataBlock->Size()) {
        problems.push_back("the stream header describes " + std::to_string(header.NumberOfStreams) +
                           " streams, more than the announced descriptor of " +
                           std::to_string(state.DataBlock->Size()) + " bytes holds");
    }
    if (header.NumberOfStreams != 0 && header.SizeOfHwStreamInformation != sizeof(HW_STREAM_INFORMATION))
        problems.push_back("SizeOfHwStreamInformation " + std::to_string(header.SizeOfHwStreamInformation));

    std::vector<PropertySetCopy> sets;
    if (header.NumDevPropArrayEntries != 0 && header.DevicePropertiesArray == nullptr)
        problems.push_back("NumDevPropArrayEntries without DevicePropertiesArray");
    for (ULONG i = 0; header.DevicePropertiesArray != nullptr && i < header.NumDevPropArrayEntries; ++i) {
        const KSPROPERTY_SET& set = header.DevicePropertiesArray[i];
        PropertySetCopy copy;
        if (set.Set == nullptr || (set.PropertiesCount != 0 && set.PropertyItem == nullptr)) {
            problems.push_back("property set " + std::to_string(i) + " without its GUID or items");
            continue;
        }
        copy.Set = *set.Set;
        for (ULONG j = 0; j < set.PropertiesCount; ++j) {
            const KSPROPERTY_ITEM& item = set.PropertyItem[j];
            copy.Items.push_back(PropertyItemCopy{item.PropertyId, item.GetPropertyHandler != nullptr,
                                                  item.SetPropertyHandler != nullptr, item.MinProperty,
                                                  item.MinData});
        }
        sets.push_back(std::move(copy));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    header_ = header;
    propertySets_ = std::move(sets);
}

void AdapterCore::Complete(const std::shared_ptr<RequestState>& completed, PVOID extensionArgument)
{
    RequestState& state = *completed;
    std::lock_guard<std::recursive_mutex> noCancelMeanwhile(cancelMutex_);
    std::vector<std::string> problems;
    if (extensionArgument != state.SentExtension) {
        problems.push_back(state.Describe() + " completed with a device extension other than the request's");
    }
    if (HeldSpinLockCount() != 0) problems.push_back(state.Describe() + " completed while holding a spin lock");
    if (CurrentIrql() > DISPATCH_LEVEL)
        problems.push_back(state.Describe() + " completed at IRQL " + std::to_string(CurrentIrql()));
    for (size_t i = 0; i < state.Blocks.size(); ++i) {
        if (!state.Blocks[i]->CanaryIntact())
            problems.push_back(state.Describe() + ": memory written past the end of its block " + std::to_string(i));
    }
    RecordOutcome(state, problems);
    state.Outcome.Completed = true;

    if (state.Sent.Command == SRB_INITIALIZE_DEVICE && state.Outcome.Status == STATUS_SUCCESS) {
        std::lock_guard<std::mutex> lock(mutex_);
        started_ = true;
    }
    if (state.Sent.Command == SRB_UNINITIALIZE_DEVICE && state.Outcome.Status == STATUS_SUCCESS) {
        // The class driver may free the extension from here on.
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
        header_.reset();
        extensionAtStop_.assign(extension_->Data(), extension_->Data() + extension_->Size());
    }
    for (auto& block : state.Blocks) block->Poison();

    RequestHooks hooks;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hooks = hooks_;
    }
    if (hooks.After) hooks.After(state.Sent, state.Outcome);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state.Finished = true;
        recent_.push_back(completed);
    }
    changed_.notify_all();
    ReportAll(problems);
}


Result AdapterCore::Wait(RequestState& state)
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return state.Finished || callsInside_ == 0; });
    if (state.Finished) return state.Outcome;
    lock.unlock();
    // No call into the minidriver runs, so nothing can complete it any more.
    if (stream::TakeOutstanding(state.Srb) == nullptr) {
        // Completed in the meantime after all.
        lock.lock();
        changed_.wait(lock, [&] { return state.Finished; });
        return state.Outcome;
    }
    ReportViolation("device request never completed: " + state.Describe());
    lock.lock();
    state.Finished = true;
    return state.Outcome;
}

void AdapterCore::CallCancelRoutine(RequestState& state, bool timeout)
{
    std::lock_guard<std::recursive_mutex> noCompletionMeanwhile(cancelMutex_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // The class driver cancels and times out only requests the minidriver holds.
        if (state.Finished || state.Srb == nullptr) return;
    }
    const HW_INITIALIZATION_DATA& registration = driver_->Registration();
    if (timeout) {
        CallDriver(registration.HwRequestTimeoutHandler, state.Srb, "HwRequestTimeoutHandler");
    } else {
        CallDriver(registration.HwCancelPacket, state.Srb, "HwCancelPacket");
    }
}

void AdapterCore::CheckQuarantinedLocked(RequestState& state, std::vector<std::string>& problems)
{
    if (state.PoisonReported) return;
    for (const auto& block : state.Blocks) {
        if (!block->PoisonIntact()) {
            problems.push_back(state.Describe() + " or its extension was written after its completion");
            state.PoisonReported = true;
            return;
        }
    }
}

void AdapterCore::CheckExtensionAfterStopLocked(std::vector<std::string>& problems)
{
    if (!stopped_ || extensionChangeReported_) return;
    if (std::memcmp(extensionAtStop_.data(), extension_->Data(), extensionAtStop_.size()) != 0) {
        problems.push_back("the device extension was written after SRB_UNINITIALIZE_DEVICE was completed");
        extensionChangeReported_ = true;
    }
}

// Nothing runs in the minidriver for this adapter: what it gave back must
// be as it was given back.
void AdapterCore::QuiescentChecksLocked(std::vector<std::string>& problems)
{
    for (auto& state : recent_) {
        CheckQuarantinedLocked(*state, problems);
        quarantine_.push_back(std::move(state));
    }
    recent_.clear();
    while (quarantine_.size() > QuarantineLimit) {
        CheckQuarantinedLocked(*quarantine_.front(), problems);
        quarantine_.pop_front();
    }
    CheckExtensionAfterStopLocked(problems);
}

void AdapterCore::Shutdown()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (shutDown_) return;
        shutDown_ = true;
        // Whatever the hooks refer to may be gone by now.
        hooks_ = {};
    }
    // Removal: the class driver stops an adapter that is still started.
    if (Started()) {
        std::shared_ptr<RequestState> stop = Submit(requests::Raw(SRB_UNINITIALIZE_DEVICE));
        Wait(*stop);
    }
    std::vector<std::string> problems;
    for (const auto& state : stream::TakeOutstandingOf(this))
        problems.push_back("device request never completed: " + state->Describe());
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return callsInside_ == 0; });
        QuiescentChecksLocked(problems);
        for (auto& state : quarantine_) CheckQuarantinedLocked(*state, problems);
        quarantine_.clear();
        if (!extension_->CanaryIntact()) problems.push_back("memory written past the end of the device extension");
        if (!configBlock_->CanaryIntact())
            problems.push_back("memory written past the end of the PORT_CONFIGURATION_INFORMATION");
    }
    DeleteDevice(classDevice_);
    classDevice_ = nullptr;
    ReportAll(problems);
}

// ---- Public faces -------------------------------------------------------------

bool PendingRequest::Completed() const
{
    return state_->Owner->Finished(*state_);
}

Result PendingRequest::Wait()
{
    return state_->Owner->Wait(*state_);
}

HW_STREAM_REQUEST_BLOCK* PendingRequest::Srb() const
{
    return state_->Srb;
}

Adapter::Adapter(std::shared_ptr<LoadedDriver> driver, const AdapterConfig& config)
    : core_(std::make_shared<AdapterCore>(std::move(driver), config))
{
}

Adapter::~Adapter()
{
    core_->Shutdown();
}

void Adapter::SetHooks(RequestHooks hooks)
{
    core_->SetHooks(std::move(hooks));
}

Result Adapter::Send(const Request& request)
{
    return Submit(request).Wait();
}

PendingRequest Adapter::Submit(const Request& request)
{
    return PendingRequest(core_->Submit(request));
}

void Adapter::Cancel(const PendingRequest& request)
{
    core_->CallCancelRoutine(*request.state_, false);
}

void Adapter::TimeOut(const PendingRequest& request)
{
    core_->CallCancelRoutine(*request.state_, true);
}

std::vector<PendingRequest> Adapter::Outstanding() const
{
    std::vector<PendingRequest> held;
    for (auto& state : stream::OutstandingOf(core_.get())) held.emplace_back(std::move(state));
    return held;
}

Result Adapter::SendRaw(SRB_COMMAND command, const char* name)
{
    Request request = requests::Raw(command);
    request.Name = name;
    return Send(request);
}

Result Adapter::Initialize() { return SendRaw(SRB_INITIALIZE_DEVICE, "initialize"); }

Result Adapter::GetStreamInfo() { return SendRaw(SRB_GET_STREAM_INFO, "get stream info"); }

Result Adapter::CompleteInitialization() { return SendRaw(SRB_INITIALIZATION_COMPLETE, "initialization complete"); }

Result Adapter::Stop() { return SendRaw(SRB_UNINITIALIZE_DEVICE, "stop"); }

StartResult Adapter::Start()
{
    StartResult result;
    result.Initialize = Initialize();
    if (result.Initialize.Status != STATUS_SUCCESS) return result;
    result.StreamInfo = GetStreamInfo();
    if (result.StreamInfo->Status != STATUS_SUCCESS) return result;
    result.InitializationComplete = CompleteInitialization();
    return result;
}

void* Adapter::DeviceExtension() const
{
    return core_->Extension();
}

DEVICE_OBJECT* Adapter::ClassDeviceObject() const
{
    return core_->ClassDevice();
}

const PORT_CONFIGURATION_INFORMATION& Adapter::ConfigInfo() const
{
    return core_->ConfigInfo();
}

std::optional<HW_STREAM_HEADER> Adapter::StreamHeader() const
{
    return core_->Header();
}

}  // namespace sim
