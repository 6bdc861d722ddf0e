// The portable checks of mubtool doctor: the wait figures, a port's open
// bounded on a thread of its own (with opens that fail or never return, as
// a Bluetooth port's may on Windows), and how the report tells them.
#include "tools/mubtool/doctor_checks.h"
#include "tools/mubtool/doctor_system.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace mub::tool {
namespace {

TEST(DoctorChecks, WaitFiguresAreMedianP99AndWorst) {
    std::vector<double> lengths;
    for (int k = 200; k >= 1; --k) lengths.push_back(k); // 1..200, unsorted
    const WaitFigures figures = waitFigures(lengths);
    EXPECT_EQ(figures.count, 200);
    EXPECT_DOUBLE_EQ(figures.median, 100.5);
    EXPECT_DOUBLE_EQ(figures.p99, 198); // 198 of the 200 are at most this long
    EXPECT_DOUBLE_EQ(figures.worst, 200);
    const WaitFigures few = waitFigures({3, 1, 2});
    EXPECT_DOUBLE_EQ(few.median, 2);
    EXPECT_DOUBLE_EQ(few.p99, 3);
    EXPECT_EQ(waitFigures({}).count, 0);
}

TEST(DoctorChecks, APortThatOpensOrIsRefusedIsToldSo) {
    PortCheck opened;
    opened.device = "COM7";
    std::string asked;
    checkPortOpen(opened, [&asked](const std::string& device) { asked = device; return 0; }, std::chrono::seconds(2));
    EXPECT_EQ(asked, "COM7");
    EXPECT_EQ(opened.open, PortOpen::Opened);
    EXPECT_EQ(opened.errorCode, 0);

    // A code of the system: its verdict and its text, as the real open gets.
    const int busyCode = [] {
        for (int code = 1; code < 200; ++code)
            if (openOutcomeOf(code) == PortOpen::Busy) return code;
        return 0;
    }();
    ASSERT_NE(busyCode, 0);
    PortCheck busy;
    busy.device = "COM8";
    checkPortOpen(busy, [busyCode](const std::string&) { return busyCode; }, std::chrono::seconds(2));
    EXPECT_EQ(busy.open, PortOpen::Busy);
    EXPECT_EQ(busy.errorCode, busyCode);
    EXPECT_EQ(busy.error, openErrorText(busyCode));
    EXPECT_FALSE(busy.error.empty());
}

// An open that blocks: the check gives up at its bound while the open is
// still under way, and the thread is left to it.
TEST(DoctorChecks, AnOpenThatDoesNotReturnIsLeftBehind) {
    struct Gate {
        std::mutex lock;
        std::condition_variable changed;
        bool released = false, returned = false;
    };
    auto gate = std::make_shared<Gate>();
    PortCheck port;
    port.port = "COM9";
    port.device = "COM9";
    checkPortOpen(
        port,
        [gate](const std::string&) {
            std::unique_lock<std::mutex> guard(gate->lock);
            gate->changed.wait(guard, [&gate] { return gate->released; });
            gate->returned = true;
            gate->changed.notify_all();
            return 0;
        },
        std::chrono::milliseconds(200));
    {
        std::lock_guard<std::mutex> guard(gate->lock);
        EXPECT_FALSE(gate->returned);
    }
    EXPECT_EQ(port.open, PortOpen::TimedOut);
    EXPECT_EQ(port.boundMs, 200);

    DoctorReport report;
    report.ports = {port};
    EXPECT_NE(reportText(report).find("COM9  COM9    -       -        did not open within 0.2 s (left to finish on its own)\n"),
              std::string::npos)
        << reportText(report);
    EXPECT_NE(reportJson(report).find("\"open\": \"timed-out\", \"openMs\": null, \"boundMs\": 200"), std::string::npos);

    // The thread ends once the open returns (and touches only what it shares).
    std::unique_lock<std::mutex> guard(gate->lock);
    gate->released = true;
    gate->changed.notify_all();
    gate->changed.wait(guard, [&gate] { return gate->returned; });
}

} // namespace
} // namespace mub::tool
