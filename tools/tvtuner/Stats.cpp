#include "tools/tvtuner/Stats.h"

namespace tvtuner {
namespace {

Event CostEvent(const Cost& cost)
{
    return Event{{"transfers", cost.Transfers},
                 {"bytes", cost.WireBytes},
                 {"bus_time_us", cost.BusTimeUs},
                 {"allocations", cost.Allocations},
                 {"frees", cost.Frees},
                 {"virtual_time_us", cost.VirtualTimeUs}};
}

}  // namespace

Cost& Cost::operator+=(const Cost& other)
{
    Transfers += other.Transfers;
    WireBytes += other.WireBytes;
    BusTimeUs += other.BusTimeUs;
    Allocations += other.Allocations;
    Frees += other.Frees;
    VirtualTimeUs += other.VirtualTimeUs;
    return *this;
}

void StatsTable::Add(std::optional<int> line, const std::string& label, const Cost& cost, bool aggregate)
{
    total_ += cost;
    if (aggregate) {
        for (Row& row : rows_) {
            if (row.Label == label) {
                ++row.Count;
                row.Total += cost;
                return;
            }
        }
    }
    rows_.push_back(Row{line, label, 1, cost});
}

Event StatsTable::ToEvent() const
{
    Event requests = Event::array();
    for (const Row& row : rows_) {
        Event entry;
        if (row.Line) entry["line"] = *row.Line;
        entry["request"] = row.Label;
        entry["count"] = row.Count;
        Event cost = CostEvent(row.Total);
        for (const auto& [key, value] : cost.items()) entry[key] = value;
        requests.push_back(entry);
    }
    Event total = CostEvent(total_);
    return Event{{"event", "stats"}, {"requests", requests}, {"total", total}};
}

}  // namespace tvtuner
