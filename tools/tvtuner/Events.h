// What a session reports, in order: bus segments, bridge notifications,
// requests with their status and record, waits, stations, statistics. Each
// event is a JSON object whose "event" field says what it is; the text and
// JSON Lines outputs both render these.
#pragma once

#include <mutex>
#include <vector>

#include <nlohmann/json.hpp>

namespace tvtuner {

using Event = nlohmann::ordered_json;

class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void Emit(const Event& event) = 0;
    // The session is over; render anything held back.
    virtual void Flush() {}
};

// Hands each event to several sinks, one event at a time (a violation may be
// reported from another thread).
class EventFanout : public EventSink {
public:
    void Add(EventSink* sink) { sinks_.push_back(sink); }
    void Emit(const Event& event) override
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        for (EventSink* sink : sinks_) sink->Emit(event);
    }
    void Flush() override
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        for (EventSink* sink : sinks_) sink->Flush();
    }

private:
    std::recursive_mutex mutex_;
    std::vector<EventSink*> sinks_;
};

}  // namespace tvtuner
