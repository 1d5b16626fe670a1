// Where every check of the simulated kernel reports a broken rule.
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "sim/Kernel.h"

namespace sim {
namespace {

std::mutex handlerMutex;

ViolationHandler& Handler()
{
    static ViolationHandler handler = [](const std::string& message) {
        std::fprintf(stderr, "simulated kernel: %s\n", message.c_str());
        std::abort();
    };
    return handler;
}

}  // namespace

void ReportViolation(const std::string& message)
{
    ViolationHandler handler;
    {
        std::lock_guard<std::mutex> lock(handlerMutex);
        handler = Handler();
    }
    handler(message);
}

ViolationHandler SetViolationHandler(ViolationHandler handler)
{
    std::lock_guard<std::mutex> lock(handlerMutex);
    ViolationHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

ViolationCapture::ViolationCapture()
{
    previous_ = SetViolationHandler([this](const std::string& message) {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(message);
    });
}

ViolationCapture::~ViolationCapture()
{
    SetViolationHandler(std::move(previous_));
}

bool ViolationCapture::Contains(const std::string& fragment) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& message : messages_) {
        if (message.find(fragment) != std::string::npos) return true;
    }
    return false;
}

}  // namespace sim
