#include "tools/tvtuner/Session.h"

#include "driver/DeviceExtension.h"
#include "driver/DriverEntry.h"
#include "i2c/BridgeInterface.h"
#include "platform/Status.h"
#include "tools/tvtuner/BoardBuilder.h"
#include "tools/tvtuner/Records.h"
#include "tools/tvtuner/Values.h"
#include "tuner/TunerDevice.h"

namespace tvtuner {
namespace {

constexpr int64_t TicksPerUs = 10;  // the virtual clock counts 100 ns

// The first failure of the start sequence, or success.
NTSTATUS StartStatus(const sim::StartResult& start)
{
    if (start.Initialize.Status != STATUS_SUCCESS) return start.Initialize.Status;
    if (!start.StreamInfo) return STATUS_UNSUCCESSFUL;
    if (start.StreamInfo->Status != STATUS_SUCCESS) return start.StreamInfo->Status;
    if (!start.InitializationComplete) return STATUS_UNSUCCESSFUL;
    return start.InitializationComplete->Status;
}

const char* NotificationKind(ULONG kind)
{
    switch (kind) {
    case I2C_NOTIFY_STANDARD: return "standard";
    case I2C_NOTIFY_COUNTRY: return "country";
    case I2C_NOTIFY_MODE: return "mode";
    default: return "unknown";
    }
}

}  // namespace

Session::Session(const BoardSetup& setup, EventSink& events, bool trace) : setup_(setup), events_(events), trace_(trace)
{
    previousHandler_ = sim::SetViolationHandler([this](const std::string& message) { OnViolation(message); });
    driver_ = sim::LoadDriver(&DriverEntry);
    if (!driver_->Registered()) OnViolation("the driver did not register with the class driver");
    board_ = std::make_unique<sim::Board>(Describe(setup_));
    busListener_ = board_->Bus().AddListener([this](const sim::BusSegment& segment) { OnSegment(segment); });
    notificationListener_ = board_->Bridge().AddNotificationListener(
        [this](const sim::BridgeNotification& notification) { OnNotification(notification); });
    callListener_ = board_->Bridge().AddCallListener([this](const sim::BridgeCall& call) {
        if (call.Kind == sim::BridgeCall::Access && call.In.ClockRate != 0) busClockHz_ = call.In.ClockRate;
    });
}

Session::~Session() { Finish(); }

Session::Snapshot Session::Take() const
{
    return Snapshot{meter_, sim::PoolAllocationCount(), sim::PoolFreeCount(), sim::InterruptTime()};
}

void Session::Account(std::optional<int> line, const std::string& name, const Snapshot& before)
{
    Cost cost;
    cost.Transfers = meter_.Transfers - before.Bus.Transfers;
    cost.WireBytes = meter_.WireBytes - before.Bus.WireBytes;
    cost.BusTimeUs = meter_.BusTimeUs - before.Bus.BusTimeUs;
    cost.Allocations = sim::PoolAllocationCount() - before.Allocations;
    cost.Frees = sim::PoolFreeCount() - before.Frees;
    cost.VirtualTimeUs = (sim::InterruptTime() - before.Time) / TicksPerUs;
    stats_.Add(line, name, cost, aggregateStats_);
}

void Session::OnSegment(const sim::BusSegment& segment)
{
    segments_.push_back(segment);
    // Nine clocks per byte (eight bits and the acknowledge), one for the
    // START and one for a STOP.
    uint64_t bytes = 1 + segment.Data.size();
    uint64_t clocks = 9 * bytes + 1 + (segment.Stop ? 1 : 0);
    ++meter_.Transfers;
    meter_.WireBytes += bytes;
    meter_.BusTimeUs += double(clocks) * 1e6 / double(busClockHz_ != 0 ? busClockHz_ : 10000);
    if (!trace_) return;

    bool acknowledged = segment.AddressAcked;
    if (!segment.Read) {
        for (bool ack : segment.DataAcked) acknowledged = acknowledged && ack;
    }
    events_.Emit(Event{{"event", "i2c"},
                       {"address", segment.Address},
                       {"rw", segment.Read ? "read" : "write"},
                       {"data", segment.Data},
                       {"ack", acknowledged},
                       {"time_us", segment.Time / TicksPerUs}});
}

void Session::OnNotification(const sim::BridgeNotification& notification)
{
    if (!trace_) return;
    events_.Emit(Event{{"event", "notify"},
                       {"kind", NotificationKind(notification.Kind)},
                       {"value", notification.Value},
                       {"time_us", notification.Time / TicksPerUs}});
}

void Session::OnViolation(const std::string& message)
{
    failed_ = true;
    events_.Emit(Event{{"event", "violation"}, {"message", message}});
}

bool Session::Start()
{
    ArmFaults(setup_, *board_);
    adapter_ = board_->CreateAdapter(driver_);
    Snapshot before = Take();
    sim::StartResult start = adapter_->Start();
    Account(std::nullopt, "start", before);

    NTSTATUS status = StartStatus(start);
    started_ = status == STATUS_SUCCESS;
    Event event{{"event", "start"}, {"status", StatusName(status)}};
    if (const TunerDevice* tuner = Tuner()) {
        event["model"] = tuner->Model;
        event["name"] = ModelName(tuner->Model);
        event["address"] = tuner->TunerAddress;
        event["standard"] = tuner->CurrentStandard;
    }
    if (!started_) failed_ = true;
    events_.Emit(event);
    return started_;
}

const TunerDevice* Session::Tuner() const
{
    if (!started_ || adapter_ == nullptr) return nullptr;
    return static_cast<DeviceExtension*>(adapter_->DeviceExtension())->Tuner();
}

Event Session::Reported(const std::string& name, const Event& args, std::optional<int> line, const sim::Result& result)
{
    Event event{{"event", "request"}};
    if (line) event["line"] = *line;
    event["request"] = name;
    for (const auto& [key, value] : args.items()) event[key] = value;
    event["status"] = StatusName(result.Status);
    event["bytes"] = result.ActualBytesTransferred;
    return event;
}

sim::Result Session::Send(const sim::Request& request, const std::string& name, const Event& args,
                          std::optional<int> line)
{
    Snapshot before = Take();
    sim::Result result = adapter_->Send(request);
    Account(line, name, before);
    if (request.Command == SRB_UNINITIALIZE_DEVICE) stopped_ = true;
    if (result.Status != STATUS_SUCCESS) failed_ = true;
    Event event = Reported(name, args, line, result);
    if (std::optional<Event> record = DecodeRecord(request, result)) event["record"] = *record;
    events_.Emit(event);
    return result;
}

sim::Result Session::Stop(std::optional<int> line)
{
    Snapshot before = Take();
    sim::Result result = adapter_->Stop();
    Account(line, "stop", before);
    stopped_ = true;
    if (result.Status != STATUS_SUCCESS) failed_ = true;
    events_.Emit(Reported("stop", Event::object(), line, result));
    return result;
}

void Session::Wait(uint32_t milliseconds, std::optional<int> line)
{
    Snapshot before = Take();
    sim::AdvanceClockMs(milliseconds);
    Account(line, "wait", before);
    Event event{{"event", "wait"}};
    if (line) event["line"] = *line;
    event["ms"] = milliseconds;
    event["time_us"] = sim::InterruptTime() / TicksPerUs;
    events_.Emit(event);
}

void Session::Finish()
{
    if (finished_) return;
    finished_ = true;
    if (adapter_ != nullptr && started_ && !stopped_) {
        sim::Result result = adapter_->Stop();
        if (result.Status != STATUS_SUCCESS) {
            OnViolation("the adapter did not stop at the end of the session: " + StatusName(result.Status));
        }
    }
    if (board_ != nullptr) {
        board_->Bus().RemoveListener(busListener_);
        board_->Bridge().RemoveNotificationListener(notificationListener_);
        board_->Bridge().RemoveCallListener(callListener_);
    }
    adapter_.reset();
    board_.reset();
    driver_.reset();
    sim::CheckClean();
    sim::SetViolationHandler(previousHandler_);
}

}  // namespace tvtuner
