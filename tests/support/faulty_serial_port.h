// Serial services over an in-memory device that plays the drivers nobody
// can buy for a test: USB-serial adapters that fail pending transfers when
// unplugged, drivers that never complete a cancelled wait or read, abort
// every transfer after a line error until it is cleared, open for seconds,
// never return a blocking call (its state, purge, line settings, close),
// or claim bytes they do not hand over. It speaks the Windows codes
// (5, 22, 995) and runs on every system.
//
// One device: the channel opens it under any path; a second open while it
// is open is refused as a held port is. The test plays the machine with
// arrive() and sent().
#pragma once

#include "platform/serial_port_services.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace mub::test {

class FaultySerialPort : public SerialPortServices {
public:
    static constexpr int AccessDenied = 5;     // ERROR_ACCESS_DENIED: what unplugged adapters answer
    static constexpr int BadCommand = 22;      // ERROR_BAD_COMMAND: likewise
    static constexpr int Aborted = 995;        // ERROR_OPERATION_ABORTED
    static constexpr int NotSupported = 50;    // ERROR_NOT_SUPPORTED

    FaultySerialPort() = default;
    ~FaultySerialPort() override;

    // The machine's side.
    void arrive(const std::vector<std::uint8_t>& bytes);
    std::vector<std::uint8_t> sent() const;
    // A line error: an error event, and with abort-on-error every transfer
    // fails until the error state is read.
    void lineError(std::int32_t bits);
    // Ends the pending event wait aborted, as a driver may do once by itself.
    void abortPendingWait();

    // Faults.
    std::atomic<int> pendingIoError{0};      // 5, 22 or 995: every transfer and wait goes pending and ends with it
    std::atomic<bool> cancelIgnored{false};  // cancels, purges and an emptied mask never end a pending wait or read
    std::atomic<bool> readsStayPending{false}; // reads of queued bytes go pending; only a cancel ends them
    std::atomic<int> openDelayMs{0};         // open takes this long (releaseOpens ends it early)
    std::atomic<bool> readsReturnNothing{false}; // reads end at once without bytes while bytes are queued
    std::atomic<bool> waitsEndAborted{false};    // every event wait ends aborted at once (an emulator's driver)
    std::atomic<bool> modemEventsRefused{false}; // a wait with modem-line events in the mask is refused
    std::atomic<bool> purgeLeavesReads{false};   // a purge does not end a pending read (emulators)
    std::atomic<std::size_t> lineCapacity{std::numeric_limits<std::size_t>::max()}; // bytes the line ever takes
    std::atomic<int> openError{0};           // every open fails with this code (2: no such port)
    // inputQuiet answers, as Windows does: a pending wait or read that has
    // not completed. Off: it cannot tell (the default of the services).
    std::atomic<bool> tellsQuiet{false};
    // The listener's waits stay in finish once completed, as a thread not
    // yet scheduled does, until the hold is lifted.
    void holdFinishes(bool held);
    // A driver that never returns a blocking call: the call named here stays
    // in the driver until releaseHangs (or the device goes).
    enum class Call { None, ReadState, GetLine, SetLine, Purge, Close };
    std::atomic<Call> hangIn{Call::None};

    void releaseOpens();
    void releaseHangs();
    int callsHanging() const; // calls held in the driver now

    // Records.
    int opens() const;        // successful opens
    int closes() const;
    int opensUnderWay() const;
    std::vector<std::string> openedPaths() const; // every open asked for, in order
    int reads() const;        // reads started
    int eventWaits() const;   // event waits started
    int purges() const;       // purges that reached the driver
    int finishesWaiting() const; // waits and reads the listener is finishing now
    int pauses() const;       // sleeps of the listener
    int writesPending() const;
    // Operations the channel freed while this driver still held them: must stay 0.
    int freedWhilePending() const;
    // Waits up to `ms` for `condition`, looking every millisecond or two.
    static bool waitFor(const std::function<bool()>& condition, int ms);

    int open(const std::string& path, SerialHandle& port) override;
    void close(SerialHandle port) override;
    int setEventMask(SerialHandle port, std::uint32_t events) override;
    int setQueueSizes(SerialHandle port, std::int32_t input, std::int32_t output) override;
    int setTimeouts(SerialHandle port, const std::uint32_t timeouts[5]) override;
    int getLine(SerialHandle port, SerialLineParams& params) override;
    int setLine(SerialHandle port, const SerialLineParams& params) override;
    int readState(SerialHandle port, SerialPortState& state) override;
    int purge(SerialHandle port, bool output, bool input) override;
    int lineControl(SerialHandle port, int code) override;
    int modemLines(SerialHandle port, int& lines) override;
    std::unique_ptr<SerialIo> newIo() override;
    int startWait(SerialHandle port, SerialIo& io) override;
    int startRead(SerialHandle port, SerialIo& io, std::size_t count) override;
    int startWrite(SerialHandle port, SerialIo& io) override;
    int finish(SerialHandle port, SerialIo& io, int timeoutMs, SerialHandle wake) override;
    void cancel(SerialHandle port, SerialIo& io) override;
    bool inputQuiet(SerialHandle port, SerialIo& io) override;
    int createWake(SerialHandle& wake) override;
    void signalWake(SerialHandle wake) override;
    void closeWake(SerialHandle wake) override;
    void sleep(SerialHandle wake, int ms) override;
    void raiseThreadPriority() override {}
    std::string errorMessage(int code) override { return "error " + std::to_string(code); }
    SerialSystemCodes codes() const override { return {Aborted, 6, 2}; }

    struct Io; // an operation as the device keeps it

private:
    using Clock = std::chrono::steady_clock;
    void complete(Io& io, int result);
    void signalEvents(std::uint32_t events);
    void takeBytes(Io& io);
    bool woken(SerialHandle wake) const;
    void freed(Io& io);
    void holdIfHanging(Call call);

    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    bool open_ = false;
    bool releaseOpens_ = false;
    int opens_ = 0, closes_ = 0, opensUnderWay_ = 0, reads_ = 0, waits_ = 0, pauses_ = 0, freedWhilePending_ = 0;
    int purges_ = 0, finishing_ = 0;
    bool finishesHeld_ = false;
    std::vector<std::uint8_t> input_, sent_;
    std::vector<std::string> paths_;
    std::size_t lineTaken_ = 0;
    std::uint32_t mask_ = 0;
    std::uint32_t history_ = 0; // events since the last wait
    std::int32_t errorBits_ = 0;
    bool aborting_ = false;     // a line error with abort-on-error not yet read
    SerialLineParams line_;
    std::uint32_t timeouts_[5] = {0xFFFFFFFFu, 0, 0, 100, 1000};
    std::set<Io*> pending_;
    std::map<SerialHandle, bool> wakes_;
    SerialHandle nextWake_ = 100;
    // Apart from lock_: a call held in the driver blocks nothing else of it.
    mutable std::mutex hangLock_;
    std::condition_variable hangChanged_;
    bool hangsReleased_ = false;
    int hanging_ = 0;
};

} // namespace mub::test
