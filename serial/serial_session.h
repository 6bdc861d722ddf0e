// One open port of a SerialChannel and the listener thread that watches it.
// Everything the listener touches lives here, so close can take the whole
// session out of the channel, and a listener that a driver holds up can be
// left to end on its own, releasing the port itself. Internal to the serial
// library.
#pragma once

#include "platform/serial_port_services.h"
#include "serial/driver_lane.h"
#include "serial/serial_channel.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace mub {

inline constexpr std::int32_t defaultQueueSize = 4096;
inline constexpr std::uint32_t defaultTimeouts[5] = {0xFFFFFFFFu, 0, 0, 100, 1000};

// Every line event the listener waits for, when its owner is told of them.
inline constexpr std::uint32_t listenedEvents = EventRxChar | EventFlagChar | EventTxEmpty | EventCts | EventDsr |
                                                EventRlsd | EventBreak | EventError | EventRing | EventRx80Full;
// An owner told of nothing but the bytes and the port's state: the listener
// waits for input alone (line errors are read at each pass, with the bytes
// they spoiled or at the idle wait's end), so a driver that has no event of
// its own for the modem lines or the line counters (Linux) is not watched.
inline constexpr std::uint32_t inputEvents = EventRxChar;

// Leaves an operation the driver never completed to the driver, with its
// memory, for the rest of the process.
void parkSerialIo(std::unique_ptr<SerialIo> io);

class SerialSession : public std::enable_shared_from_this<SerialSession> {
public:
    SerialSession(SerialPortServices& services, std::shared_ptr<std::atomic<std::uint32_t>> lineErrorCount);
    ~SerialSession();
    SerialSession(const SerialSession&) = delete;
    SerialSession& operator=(const SerialSession&) = delete;

    SerialPortServices& sys;
    const SerialSystemCodes codes;
    SerialHandle port = noSerialHandle;
    SerialHandle wake = noSerialHandle; // signalled by close to end the listener's waits
    SerialDataHandler onData;
    SerialNotifyHandler onNotify;
    SerialStatusHandler onStatus;
    SerialErrorHandler onError; // told when the port is given up for a hung driver

    std::atomic<bool> listening{true};
    std::atomic<bool> stopRequested{false};
    // Settings the listener reads; configure may change them while it runs.
    std::atomic<std::int32_t> inputQueueSize{defaultQueueSize};
    std::atomic<int> eventChar{-1}; // -1: no flag character
    std::atomic<bool> discardNull{false};
    std::atomic<std::uint32_t> readTimeoutPerByte{0}, readTimeoutConstant{0}; // ms, as the port was given them
    // Owner's thread only, under the channel's lock.
    std::uint32_t timeouts[5] = {defaultTimeouts[0], defaultTimeouts[1], defaultTimeouts[2], defaultTimeouts[3],
                                 defaultTimeouts[4]};
    std::int32_t baudRate = 9600;
    std::unique_ptr<SerialIo> writeIo;
    std::thread thread;
    // The port's blocking driver calls (all but the starts of transfers,
    // their cancels and the waits for them, which return at once or have a
    // bound of their own): the listener makes its own watched by the lane,
    // every other thread hands them to the lane. Started once the port is
    // open.
    DriverLane driver;

    // A blocking call into the driver, `call(services, port)`, with its
    // bound: its code, or nothing once the port is given up.
    template <typename Call> std::optional<int> driverCall(const char* name, Call call) {
        const auto answer = driverQuery<char>(
            name, [call = std::move(call)](SerialPortServices& services, SerialHandle handle, char&) mutable {
                return call(services, handle);
            });
        if (!answer) return std::nullopt;
        return answer->first;
    }
    // The same for a call that fills a `Value`, `call(services, port, value)`.
    template <typename Value, typename Call>
    std::optional<std::pair<int, Value>> driverQuery(const char* name, Call call) {
        auto bound = [services = &sys, handle = port, call = std::move(call)](Value& value) mutable {
            return call(*services, handle, value);
        };
        if (isListenerThread()) return driver.watched<Value>(name, std::move(bound));
        return driver.call<Value>(name, std::move(bound));
    }
    bool startDriverLane(int& code);
    // Once the lane is given up: tells onError so, once for the port (not
    // after close from the listener). Called where no lock of the session
    // is held, since a handler may call the channel.
    void tellIfGivenUp();

    // The events the port was told to wait for (before the listener starts).
    void listenFor(std::uint32_t mask) { mask_ = mask; }
    // Starts the listener, which holds the session until it ends; false with
    // the system's code when no thread can be had.
    bool startListener(int& code);
    // The owner's side of close: the listener is told to stop and waited for
    // up to `boundMs`; a listener a driver holds up longer is left to end on
    // its own and releases the port then. True when the port is released.
    bool stopAndRelease(int boundMs);
    bool isListenerThread() const { return std::this_thread::get_id() == listenerId_.load(); }

    // Discards the queues. Bytes the listener read before the discard are
    // dropped; a delivery already in progress is waited for (up to
    // deliveryWaitMs), so normally nothing that waited before purge reaches
    // onData after it. False when the system refused or the port is closed.
    bool purge(bool clearOutput, bool clearInput);
    // Writes all bytes; see SerialChannel::send.
    bool send(const std::uint8_t* bytes, std::int32_t count, std::int32_t& written, bool& cutShort);

private:
    void listen();
    void deliver(std::int32_t queued);
    // Starts an event wait unless one is pending, before the port is looked
    // at: a wait sees only what comes after it starts, the look what came
    // before. True while one is pending.
    bool armEventWait();
    void waitForEvents();
    // A look at the port's queues and errors, with the sends counted before it.
    struct Look {
        std::optional<std::pair<int, SerialPortState>> read; // nothing once the port is given up
        std::uint64_t sendSteps = 0;
    };
    Look lookAtPort();
    bool foundQuiet(const Look& look) const; // both queues empty, no byte held
    // What queuesKnownEmpty relies on: a pending `io` that began before a
    // look that found the port quiet; null: nothing.
    void publishQuiet(SerialIo* io, std::uint64_t sendStepsAtLook);
    // Finishes the listener's pending wait or one-byte read, telling purges
    // meanwhile whether the look before it found the port quiet.
    int finishWatched(SerialIo& io);
    // A purge's view: the listener waits after a look that found both
    // queues empty, no send has been under way since, and its wait shows
    // that nothing came. Under the read lock.
    bool queuesKnownEmpty();
    void waitByReading();
    void waitEnded(int code, std::uint64_t purgesAtStart);
    void raise(std::uint32_t events);
    // The error-and-status call on the lane: its code and the state, nothing once given up.
    std::optional<std::pair<int, SerialPortState>> readPortState();
    void reportState(std::int32_t errorBits, std::int32_t holdBits);
    void pause();
    // An operation ended aborted: a line error with abort-on-error set is
    // cleared (and counted) here.
    enum class AbortCause { LineError, Unknown, PortFailing };
    AbortCause clearAfterAbort();
    // Cancels a pending operation and gives the driver a short time to end
    // it; one it keeps is parked and replaced.
    void abandon(std::unique_ptr<SerialIo>& io);
    void endPendingOperations();
    // A purge tells whether a pending one-byte read already holds a byte
    // from before it.
    void markByteReadForPurge();
    void releaseHandles();
    int writeBoundMs(std::size_t count) const;

    void notify(std::int32_t code) {
        if (onNotify && !stopRequested.load()) onNotify(code);
    }
    void status(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
        if (onStatus && !stopRequested.load()) onStatus(a, b, c, d);
    }

    std::shared_ptr<std::atomic<std::uint32_t>> lineErrors_;
    std::atomic<std::thread::id> listenerId_{};
    std::atomic<bool> givenUpTold_{false};
    std::atomic<std::uint64_t> purges_{0};        // input discards so far
    std::atomic<std::uint64_t> sendSteps_{0};     // starts and ends of sends so far
    // What a purge may rely on (see queuesKnownEmpty): set by the listener
    // for the time it waits on `quietIo_`.
    std::mutex quietLock_;
    SerialIo* quietIo_ = nullptr;
    std::uint64_t quietSendSteps_ = 0;
    std::atomic<std::int32_t> pendingErrorBits_{0}; // cleared on the owner's thread, reported by the listener
    std::mutex readLock_; // orders the listener's reads against purges and the release of the port
    std::mutex deliveryLock_;
    std::condition_variable deliveryDone_;
    bool delivering_ = false;

    // Ending: the listener says when it has ended; the owner, when it gave up waiting.
    std::mutex endLock_;
    std::condition_variable ended_;
    bool listenerEnded_ = false;
    bool ownerGaveUp_ = false;

    // Listener's own.
    std::unique_ptr<SerialIo> waitIo_, readIo_, byteIo_;
    std::vector<std::uint8_t> delivery_;
    std::uint32_t mask_ = listenedEvents;
    bool waitPending_ = false;
    bool lookFoundQuiet_ = false; // the last look found both queues empty, after the wait began
    std::optional<Look> lookAfterRead_; // made by deliver, used by the next pass
    std::uint64_t sendStepsAtLook_ = 0;
    std::uint64_t purgesAtWait_ = 0;
    int unpromptedAborts_ = 0; // event waits the driver ended by itself, in a row
    int refusedWaits_ = 0;
    // Where the driver cannot wait for events, a pending one-byte read waits
    // for input instead; the byte it takes is delivered with the rest.
    bool readsForEvents_ = false;
    std::mutex byteReadLock_; // guards byteIo_, byteReadPending_ and byteReadStale_ against a purge
    bool byteReadPending_ = false;
    bool byteReadStale_ = false; // it completed before a purge
    std::uint64_t purgesAtByteRead_ = 0;
    int heldByte_ = -1;
    std::uint64_t purgesAtHeldByte_ = 0;
};

} // namespace mub
