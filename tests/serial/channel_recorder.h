// Collects what a SerialChannel reports to its four handlers, for tests.
#pragma once

#include "serial/serial_channel.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace mub::test {

class ChannelRecorder {
public:
    SerialDataHandler dataHandler() {
        return [this](const std::uint8_t* bytes, std::int32_t count) {
            std::lock_guard<std::mutex> guard(lock_);
            if (count > 0) {
                chunks_.emplace_back(bytes, bytes + count);
                bytes_.insert(bytes_.end(), bytes, bytes + count);
            }
            changed_.notify_all();
        };
    }
    SerialNotifyHandler notifyHandler() {
        return [this](std::int32_t code) {
            std::lock_guard<std::mutex> guard(lock_);
            notifications_.push_back(code);
            changed_.notify_all();
        };
    }
    SerialStatusHandler statusHandler() {
        return [this](std::int32_t, std::int32_t, std::int32_t errorBits, std::int32_t) {
            std::lock_guard<std::mutex> guard(lock_);
            if (errorBits != 0) errorBits_.push_back(errorBits);
            changed_.notify_all();
        };
    }
    SerialErrorHandler errorHandler() {
        return [this](const std::string& text) {
            std::lock_guard<std::mutex> guard(lock_);
            errors_.push_back(text);
        };
    }

    // Waits until at least `count` bytes arrived in all; false on time-out.
    bool waitForBytes(std::size_t count, int timeoutMs = 2000) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                 [&] { return bytes_.size() >= count; });
    }

    // Waits until at least `count` notifications came; returns them all.
    std::vector<std::int32_t> waitForNotifications(std::size_t count, int timeoutMs = 2000) {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return notifications_.size() >= count; });
        return notifications_;
    }

    std::vector<std::uint8_t> bytes() const {
        std::lock_guard<std::mutex> guard(lock_);
        return bytes_;
    }
    std::vector<std::vector<std::uint8_t>> chunks() const {
        std::lock_guard<std::mutex> guard(lock_);
        return chunks_;
    }
    std::vector<std::int32_t> notifications() const {
        std::lock_guard<std::mutex> guard(lock_);
        return notifications_;
    }
    // The line-error bits of every onStatus call that carried some, or'ed,
    // once some came (or the time ran out).
    std::int32_t waitForErrorBits(int timeoutMs = 1000) {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return !errorBits_.empty(); });
        std::int32_t all = 0;
        for (auto bits : errorBits_) all |= bits;
        return all;
    }
    std::vector<std::string> errors() const {
        std::lock_guard<std::mutex> guard(lock_);
        return errors_;
    }
    void clearErrors() {
        std::lock_guard<std::mutex> guard(lock_);
        errors_.clear();
    }

private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::uint8_t> bytes_;
    std::vector<std::vector<std::uint8_t>> chunks_;
    std::vector<std::int32_t> notifications_;
    std::vector<std::int32_t> errorBits_;
    std::vector<std::string> errors_;
};

} // namespace mub::test
