#include "link/reply_latency.h"

#include "platform/append_file.h"

#include <algorithm>
#include <cstdlib>

namespace mub {

namespace {
constexpr std::size_t mostSamples = 1u << 20; // far more than a run's blocks
} // namespace

ReplyLatency::ReplyLatency() {
    if (const char* file = std::getenv("MUB_REPLY_LATENCY")) file_ = file;
}

void ReplyLatency::written(Clock::time_point when) {
    if (!pending_) return;
    pending_ = false;
    if (micros_.size() >= mostSamples) return;
    const auto gap = std::chrono::duration_cast<std::chrono::microseconds>(when - lastArrival_).count();
    micros_.push_back(static_cast<std::uint32_t>(std::clamp<long long>(gap, 0, 0xFFFFFFFFLL)));
}

std::string ReplyLatency::takeSummary() {
    if (micros_.empty()) return {};
    std::vector<std::uint32_t> sorted;
    sorted.swap(micros_);
    std::sort(sorted.begin(), sorted.end());
    // Nearest rank.
    const auto rank = [&](double share) {
        std::size_t index = static_cast<std::size_t>(share * static_cast<double>(sorted.size()) + 0.999999);
        return sorted[std::clamp<std::size_t>(index, 1, sorted.size()) - 1];
    };
    return "reply-latency samples=" + std::to_string(sorted.size()) + " median_us=" + std::to_string(rank(0.5)) +
           " p99_us=" + std::to_string(rank(0.99)) + " max_us=" + std::to_string(sorted.back()) + "\n";
}

void ReplyLatency::report() {
    if (!enabled()) return;
    const std::string line = takeSummary();
    if (line.empty()) return;
    std::string error;
    appendToFile(file_, {}, line, error); // a measuring aid: a failure only loses the line
}

} // namespace mub
