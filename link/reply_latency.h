// A measuring aid for the transfer benchmark: how long after a reply's bytes
// reach the program its next write goes out (the acknowledgement of a block
// to the next block). With the environment variable MUB_REPLY_LATENCY
// naming a file, each write that follows arriving bytes keeps that time,
// and at the port's closing one line with their count, median, 99th
// percentile and largest (microseconds) is appended to the file. Without
// it, a delivery and a write cost one test of a flag.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace mub {

class ReplyLatency {
public:
    using Clock = std::chrono::steady_clock;
    // Reads the environment variable.
    ReplyLatency();
    explicit ReplyLatency(std::string file) : file_(std::move(file)) {}

    bool enabled() const { return !file_.empty(); }
    // Bytes arrived (the listener's thread; the caller holds the lock that
    // also guards written()).
    void arrived(Clock::time_point when) {
        lastArrival_ = when;
        pending_ = true;
    }
    // A write is going out at `when`.
    void written(Clock::time_point when);
    // The line for the samples so far, empty without samples; they are dropped.
    std::string takeSummary();
    // Appends takeSummary() to the file when there is one.
    void report();

private:
    std::string file_;
    Clock::time_point lastArrival_{};
    bool pending_ = false;
    std::vector<std::uint32_t> micros_;
};

} // namespace mub
