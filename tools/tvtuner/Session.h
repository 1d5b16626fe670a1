// One session on a simulated board: the driver loaded by the simulated class
// driver, one adapter started on the board, and every request sent to it as
// an SRB. Reports bus segments, bridge notifications, requests and waits as
// events, keeps the bus segments for waveforms, and meters what each request
// costs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "sim/Kernel.h"
#include "sim/stream/StreamClass.h"
#include "tools/tvtuner/BoardSetup.h"
#include "tools/tvtuner/Events.h"
#include "tools/tvtuner/Stats.h"

class TunerDevice;

namespace tvtuner {

class Session {
public:
    // trace: report bus segments and notifications as events.
    Session(const BoardSetup& setup, EventSink& events, bool trace);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The class driver's start sequence; reports a "start" event.
    bool Start();
    bool Started() const { return started_; }

    // One request as an SRB, reported as a "request" event carrying args,
    // the status, the byte count and the record returned.
    sim::Result Send(const sim::Request& request, const std::string& name, const Event& args = Event::object(),
                     std::optional<int> line = std::nullopt);
    // SRB_UNINITIALIZE_DEVICE.
    sim::Result Stop(std::optional<int> line = std::nullopt);
    // Advances the virtual clock: timers fire, the AGC cycle runs.
    void Wait(uint32_t milliseconds, std::optional<int> line = std::nullopt);

    // Stops the adapter if the session did not, takes everything down and
    // checks that the driver left nothing behind. Called by the destructor.
    void Finish();

    // A request or the start failed, or a check of the simulation did.
    bool Failed() const { return failed_; }

    // Rows of requests with the same name are summed (for scans).
    void AggregateStats(bool aggregate) { aggregateStats_ = aggregate; }
    const StatsTable& Stats() const { return stats_; }

    const std::vector<sim::BusSegment>& Segments() const { return segments_; }
    uint32_t BusClockHz() const { return busClockHz_; }
    const BoardSetup& Setup() const { return setup_; }
    // The driver's tuner object once started.
    const TunerDevice* Tuner() const;

private:
    struct Meter {
        uint64_t Transfers = 0;
        uint64_t WireBytes = 0;
        double BusTimeUs = 0;
    };
    struct Snapshot {
        Meter Bus;
        uint64_t Allocations;
        uint64_t Frees;
        int64_t Time;
    };

    Snapshot Take() const;
    void Account(std::optional<int> line, const std::string& name, const Snapshot& before);
    void OnSegment(const sim::BusSegment& segment);
    void OnNotification(const sim::BridgeNotification& notification);
    void OnViolation(const std::string& message);
    Event Reported(const std::string& name, const Event& args, std::optional<int> line, const sim::Result& result);

    BoardSetup setup_;
    EventSink& events_;
    bool trace_;
    sim::ViolationHandler previousHandler_;

    std::shared_ptr<sim::LoadedDriver> driver_;
    std::unique_ptr<sim::Board> board_;
    std::unique_ptr<sim::Adapter> adapter_;
    int busListener_ = 0;
    int notificationListener_ = 0;
    int callListener_ = 0;

    bool started_ = false;
    bool stopped_ = false;
    bool finished_ = false;
    bool failed_ = false;

    std::vector<sim::BusSegment> segments_;
    uint32_t busClockHz_ = 0;
    Meter meter_;
    StatsTable stats_;
    bool aggregateStats_ = false;
};

}  // namespace tvtuner
