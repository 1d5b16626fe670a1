#include "tests/support/KernelTest.h"

#include <mutex>

namespace {
std::mutex failureMutex;
}  // namespace

void KernelTest::SetUp()
{
    sim::Reset();
    previous_ = sim::SetViolationHandler([](const std::string& message) {
        std::lock_guard<std::mutex> lock(failureMutex);
        ADD_FAILURE() << "simulated kernel: " << message;
    });
}

void KernelTest::TearDown()
{
    sim::CheckClean();
    sim::SetViolationHandler(std::move(previous_));
}
