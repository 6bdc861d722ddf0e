// One open port of a SerialChannel and the listener thread that watches it.
// Everything the listener touches lives here, so close can take the whole
// session out of the channel and wait for its thread without holding the
// channel's lock. Internal to the serial library.
#pragma once

#include "platform/serial_port_services.h"
#include "serial/serial_channel.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace mub {

inline constexpr std::int32_t defaultQueueSize = 4096;
inline constexpr std::uint32_t defaultTimeouts[5] = {0xFFFFFFFFu, 0, 0, 100, 1000};

class SerialSession {
public:
    explicit SerialSession(SerialPortServices& services) : sys(services) {}

    SerialPortServices& sys;
    int handle = -1;
    int wake = -1; // signalled by close to end the listener's waits
    SerialDataHandler onData;
    SerialNotifyHandler onNotify;
    SerialStatusHandler onStatus;

    std::atomic<bool> listening{true};
    std::atomic<bool> stopRequested{false};
    // Settings the listener reads; configure may change them while it runs.
    std::atomic<std::int32_t> inputQueueSize{defaultQueueSize};
    std::atomic<std::int32_t> outputQueueSize{defaultQueueSize};
    std::atomic<int> eventChar{-1}; // -1: no flag character
    std::atomic<bool> discardNull{false};
    std::atomic<bool> ctsFlow{false};
    std::atomic<bool> outputPending{false}; // bytes were sent; "output empty" not yet reported
    // Read interval, read per byte, read constant, write per byte, write
    // constant (ms). Only the owner's thread uses them, under the channel lock.
    std::uint32_t timeouts[5] = {defaultTimeouts[0], defaultTimeouts[1], defaultTimeouts[2], defaultTimeouts[3],
                                 defaultTimeouts[4]};
    // Orders each read of the listener against purges and the closing of
    // the handle. Never held while a handler runs: a handler may wait for a
    // lock of the owner's while the owner purges.
    std::mutex readLock;
    std::thread thread;

    // Discards the queues. Bytes the listener read before the discard are
    // dropped; a delivery already in progress is waited for (up to
    // deliveryWaitMs), so normally nothing that waited before purge reaches
    // onData after it. False when the system refused or the port is closed.
    bool purge(bool clearOutput, bool clearInput);

    // Takes the modem lines and line-error counts as they are now (where the
    // driver has them; pseudo-terminals have neither). Called by open before
    // the listener starts, so that changes right after open are seen.
    void takeLineBaseline();
    // The listener thread's body; returns once close has stopped it.
    void listen();

private:
    struct Input {
        bool delivered = false;
        bool flagChar = false;
        bool nearlyFull = false;
    };
    struct LineEvents {
        std::int32_t errorBits = 0;
        bool ctsChanged = false, dsrChanged = false, rlsdChanged = false, breakSeen = false, ringSeen = false;
        bool linesKnown = false;
        int lines = 0;
    };

    Input deliverWaitingInput(std::int32_t queued, std::vector<std::uint8_t>& buffer);
    void waitForInput();
    void pause();
    LineEvents readLineEvents();
    bool outputJustEmptied(std::int32_t& outputQueued);
    void raise(const Input& input, const LineEvents& events, bool outputEmpty, std::int32_t outputQueued);

    void notify(std::int32_t code) {
        if (onNotify) onNotify(code);
    }
    void status(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
        if (onStatus) onStatus(a, b, c, d);
    }

    std::atomic<std::thread::id> listenerId_{};
    std::atomic<std::uint64_t> purges_{0}; // input discards so far
    std::mutex deliveryLock_;
    std::condition_variable deliveryDone_;
    bool delivering_ = false;

    bool linesReadable_ = false;
    int lines_ = 0;
    bool countsReadable_ = false;
    SerialLineCounts counts_;
};

} // namespace mub
