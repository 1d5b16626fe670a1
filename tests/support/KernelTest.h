// Base fixture of every suite: a fresh simulated kernel for each test, its
// violations turned into test failures, and an end-of-test check that
// nothing (pool, IRPs, timers, DPCs, work items, ...) was left behind.
#pragma once

#include <gtest/gtest.h>

#include "sim/Kernel.h"

class KernelTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    sim::ViolationHandler previous_;
};
