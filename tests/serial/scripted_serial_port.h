// Real Linux serial services with single steps made to fail on request, and
// with the modem lines and line counters of a UART over a pseudo-terminal,
// so tests can reach the paths a working pseudo-terminal never takes.
#pragma once

#include "platform/linux_serial_port.h"

#include <atomic>
#include <cerrno>
#include <mutex>

namespace mub::test {

class ScriptedSerialPort : public LinuxSerialPort {
public:
    // Error codes to return instead of doing the step; 0 does the step.
    std::atomic<int> getLineError{0};
    std::atomic<int> setLineError{0};
    std::atomic<int> wakeError{0};
    std::atomic<int> opens{0};
    // Modem lines and line-error counts as a UART would report them; a
    // pseudo-terminal has neither. -1 / false: the real (failing) call.
    // Both are looked at when a port opens.
    std::atomic<int> lines{-1};
    std::atomic<bool> countsReadable{false};
    // How often the scripted lines were read (a watch looks at them).
    std::atomic<int> lineReads{0};

    void setCounts(const SerialLineCounts& counts) {
        std::lock_guard<std::mutex> guard(lock_);
        counts_ = counts;
    }

    int open(const std::string& path, SerialHandle& port) override {
        ++opens;
        return LinuxSerialPort::open(path, port);
    }
    // A pseudo-terminal always reports 8 data bits and no parity; with this
    // set the port reports the framing it was last given, as a UART does.
    std::atomic<bool> keepFraming{false};

    int getLine(SerialHandle port, SerialLineParams& params) override {
        if (int e = getLineError.load()) return e;
        int e = LinuxSerialPort::getLine(port, params);
        std::lock_guard<std::mutex> guard(lock_);
        if (e == 0 && keepFraming.load() && haveLastSet_) {
            params.dataBits = lastSet_.dataBits;
            params.parity = lastSet_.parity;
            params.parityCheck = lastSet_.parityCheck;
        }
        return e;
    }
    int setLine(SerialHandle port, const SerialLineParams& params) override {
        if (int e = setLineError.load()) return e;
        {
            std::lock_guard<std::mutex> guard(lock_);
            lastSet_ = params;
            haveLastSet_ = true;
        }
        return LinuxSerialPort::setLine(port, params);
    }
    SerialLineParams lastSet() {
        std::lock_guard<std::mutex> guard(lock_);
        return lastSet_;
    }
    int createWake(SerialHandle& wake) override {
        if (int e = wakeError.load()) return e;
        return LinuxSerialPort::createWake(wake);
    }
    // Event waits that found the port hung up, and the pauses the listener
    // takes instead of waiting on the port.
    std::atomic<int> hungUpWaits{0};
    std::atomic<int> pauses{0};
    int finish(SerialHandle port, SerialIo& io, int timeoutMs, SerialHandle wake) override {
        const int e = LinuxSerialPort::finish(port, io, timeoutMs, wake);
        if (e == EIO) ++hungUpWaits;
        return e;
    }
    void sleep(SerialHandle wake, int ms) override {
        ++pauses;
        LinuxSerialPort::sleep(wake, ms);
    }

protected:
    int driverModemLines(int fd, int& value) override {
        if (lines.load() < 0) return LinuxSerialPort::driverModemLines(fd, value);
        ++lineReads;
        value = lines.load();
        return 0;
    }
    int driverLineCounts(int fd, SerialLineCounts& counts) override {
        if (!countsReadable.load()) return LinuxSerialPort::driverLineCounts(fd, counts);
        std::lock_guard<std::mutex> guard(lock_);
        counts = counts_;
        return 0;
    }

private:
    std::mutex lock_;
    SerialLineParams lastSet_;
    SerialLineCounts counts_;
    bool haveLastSet_ = false;
};

} // namespace mub::test
