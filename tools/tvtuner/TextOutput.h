// Events rendered for a person at a terminal. Bus segments and
// notifications are held back until the request that caused them has been
// printed, so each request is followed by its own traffic.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/tvtuner/Events.h"

namespace tvtuner {

class TextOutput : public EventSink {
public:
    // showRequests: print every request, not only those that failed.
    TextOutput(std::ostream& out, std::ostream& errors, bool showRequests);
    void Emit(const Event& event) override;
    void Flush() override;

private:
    void PrintTrace();
    void Start(const Event& event);
    void Request(const Event& event);
    void Wait(const Event& event);
    void Scan(const Event& event);
    void Identify(const Event& event);
    void Tune(const Event& event);
    void Stats(const Event& event);

    std::ostream& out_;
    std::ostream& errors_;
    bool showRequests_;
    std::vector<std::string> trace_;
    std::vector<Event> stations_;
};

}  // namespace tvtuner
