// The benchmark's reply latency: which writes count, and the summary line.
#include "link/reply_latency.h"

#include <gtest/gtest.h>

namespace mub {
namespace {

TEST(ReplyLatency, CountsOnlyWritesAfterArrivalsAndSummarisesByRank) {
    ReplyLatency latency("unused");
    const auto start = ReplyLatency::Clock::time_point{};
    latency.written(start); // nothing arrived: a first request, or a resend after a time-out
    for (int i = 1; i <= 100; ++i) {
        const auto arrival = start + std::chrono::milliseconds(i);
        latency.arrived(arrival);
        latency.written(arrival + std::chrono::microseconds(101 - i));
        latency.written(arrival + std::chrono::milliseconds(500)); // a second write, no new reply
    }
    EXPECT_EQ(latency.takeSummary(), "reply-latency samples=100 median_us=50 p99_us=99 max_us=100\n");
    EXPECT_EQ(latency.takeSummary(), ""); // taken
}

} // namespace
} // namespace mub
