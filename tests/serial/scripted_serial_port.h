// Real Linux serial services with single steps made to fail on request, so
// tests can reach the failure paths a working pseudo-terminal never takes.
#pragma once

#include "platform/linux_serial_port.h"

#include <atomic>
#include <mutex>

namespace mub::test {

class ScriptedSerialPort : public LinuxSerialPort {
public:
    // Error codes to return instead of doing the step; 0 does the step.
    std::atomic<int> getLineError{0};
    std::atomic<int> setLineError{0};
    std::atomic<int> wakeError{0};
    // When > 0, each write takes at most this many bytes in all and the
    // driver never has room again (a stalled line).
    std::atomic<long> writeCapacity{0};
    std::atomic<int> opens{0};
    // Modem lines and line-error counts as a UART would report them; a
    // pseudo-terminal has neither. -1 / false: the real (failing) call.
    std::atomic<int> lines{-1};
    std::atomic<bool> countsReadable{false};

    void setCounts(const SerialLineCounts& counts) {
        std::lock_guard<std::mutex> guard(lock_);
        counts_ = counts;
    }
    int modemLines(int handle, int& value) override {
        if (lines.load() < 0) return LinuxSerialPort::modemLines(handle, value);
        value = lines.load();
        return 0;
    }
    int lineCounts(int handle, SerialLineCounts& counts) override {
        if (!countsReadable.load()) return LinuxSerialPort::lineCounts(handle, counts);
        std::lock_guard<std::mutex> guard(lock_);
        counts = counts_;
        return 0;
    }

    int openExclusive(const std::string& path, int& handle) override {
        ++opens;
        return LinuxSerialPort::openExclusive(path, handle);
    }
    // A pseudo-terminal always reports 8 data bits and no parity; with this
    // set the port reports the framing it was last given, as a UART does.
    std::atomic<bool> keepFraming{false};

    int getLine(int handle, SerialLineParams& params) override {
        if (int e = getLineError.load()) return e;
        int e = LinuxSerialPort::getLine(handle, params);
        std::lock_guard<std::mutex> guard(lock_);
        if (e == 0 && keepFraming.load() && haveLastSet_) {
            params.dataBits = lastSet_.dataBits;
            params.parity = lastSet_.parity;
            params.parityCheck = lastSet_.parityCheck;
        }
        return e;
    }
    int setLine(int handle, const SerialLineParams& params) override {
        if (int e = setLineError.load()) return e;
        std::lock_guard<std::mutex> guard(lock_);
        lastSet_ = params;
        haveLastSet_ = true;
        return LinuxSerialPort::setLine(handle, params);
    }
    SerialLineParams lastSet() {
        std::lock_guard<std::mutex> guard(lock_);
        return lastSet_;
    }
    int createWakeHandle(int& wakeHandle) override {
        if (int e = wakeError.load()) return e;
        return LinuxSerialPort::createWakeHandle(wakeHandle);
    }
    // Waits of the listener: those on the port that found it hung up, and
    // the pauses it takes instead of waiting on the port (a wait on the
    // wake-up handle alone).
    std::atomic<int> hungUpWaits{0};
    std::atomic<int> pauses{0};
    int waitReadable(int handle, int wakeHandle, int timeoutMs, SerialWaitResult& result) override {
        const int e = LinuxSerialPort::waitReadable(handle, wakeHandle, timeoutMs, result);
        if (wakeHandle < 0)
            ++pauses;
        else if (result.hangup)
            ++hungUpWaits;
        return e;
    }
    int write(int handle, const std::uint8_t* bytes, std::size_t count, std::size_t& put) override {
        if (writeCapacity.load() <= 0) return LinuxSerialPort::write(handle, bytes, count, put);
        std::size_t room = static_cast<std::size_t>(writeCapacity.load()) - taken_;
        std::size_t n = count < room ? count : room;
        taken_ += n;
        return LinuxSerialPort::write(handle, bytes, n, put);
    }
    int waitWritable(int handle, int timeoutMs, bool& ready) override {
        if (writeCapacity.load() <= 0) return LinuxSerialPort::waitWritable(handle, timeoutMs, ready);
        // Stalled: nothing ever gets written again; wait out the time.
        SerialWaitResult ignored;
        LinuxSerialPort::waitReadable(-1, -1, timeoutMs, ignored);
        ready = false;
        return 0;
    }

private:
    std::size_t taken_ = 0;
    std::mutex lock_;
    SerialLineParams lastSet_;
    SerialLineCounts counts_;
    bool haveLastSet_ = false;
};

} // namespace mub::test
