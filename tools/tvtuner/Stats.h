// What each request cost: bus transfers, bytes on the wire (address bytes
// included), time on the bus at its clock rate, pool allocations and frees,
// and virtual time; per request and in total.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/tvtuner/Events.h"

namespace tvtuner {

struct Cost {
    uint64_t Transfers = 0;
    uint64_t WireBytes = 0;
    double BusTimeUs = 0;
    uint64_t Allocations = 0;
    uint64_t Frees = 0;
    int64_t VirtualTimeUs = 0;

    Cost& operator+=(const Cost& other);
};

class StatsTable {
public:
    // Adds a row; with aggregate, a row of the same label absorbs it (and
    // counts the requests it holds).
    void Add(std::optional<int> line, const std::string& label, const Cost& cost, bool aggregate);
    Event ToEvent() const;

private:
    struct Row {
        std::optional<int> Line;
        std::string Label;
        uint64_t Count = 0;
        Cost Total;
    };
    std::vector<Row> rows_;
    Cost total_;
};

}  // namespace tvtuner
