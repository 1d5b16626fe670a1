#include <gtest/gtest.h>

#include "sim/Kernel.h"

TEST(Violations, CaptureCollectsReportsAndRestoresTheHandler)
{
    std::vector<std::string> outer;
    sim::ViolationHandler previous = sim::SetViolationHandler([&](const std::string& m) { outer.push_back(m); });
    {
        sim::ViolationCapture capture;
        sim::ReportViolation("double free of 0x1000");
        EXPECT_TRUE(capture.Contains("double free"));
        EXPECT_FALSE(capture.Contains("leak"));
    }
    sim::ReportViolation("after the capture");
    sim::SetViolationHandler(std::move(previous));
    ASSERT_EQ(outer.size(), 1u);
    EXPECT_EQ(outer[0], "after the capture");
}
