// Events as JSON Lines: one object per line, written as it happens.
#pragma once

#include <ostream>

#include "tools/tvtuner/Events.h"

namespace tvtuner {

class JsonOutput : public EventSink {
public:
    explicit JsonOutput(std::ostream& out) : out_(out) {}
    void Emit(const Event& event) override { out_ << event.dump() << '\n' << std::flush; }

private:
    std::ostream& out_;
};

}  // namespace tvtuner
