#include "serial/serial_session.h"

#include "platform/gbk_text.h"
#include "serial/serial_codes.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>

namespace mub {
namespace {

constexpr int pauseMs = 20;          // after a wait that failed or could not start, instead of spinning
constexpr int idleWaitMs = 1000;     // the listener looks at the port at least this often
constexpr int readGraceMs = 200;     // a read of bytes already queued gets this much beyond its time-outs
constexpr int cancelGraceMs = 50;    // a cancelled operation gets this long to complete
constexpr int deliveryWaitMs = 100;  // longest a purge waits for an onData call in progress
constexpr int abortsBeforeReads = 3; // event waits ended unprompted, in a row, before reads replace them
// A write may take its time on the line plus this, before it is given up
// (the driver's own write time-outs may end it sooner): a write on the
// window's thread holds the window up no longer.
constexpr int writeMarginMs = 500;

std::mutex& parkedLock() {
    static std::mutex lock;
    return lock;
}

// Never freed: a driver may still write into what is parked here.
std::vector<std::unique_ptr<SerialIo>>& parked() {
    static auto* list = new std::vector<std::unique_ptr<SerialIo>>;
    return *list;
}

} // namespace

void parkSerialIo(std::unique_ptr<SerialIo> io) {
    std::lock_guard<std::mutex> guard(parkedLock());
    parked().push_back(std::move(io));
}

std::size_t abandonedSerialOperations() {
    std::lock_guard<std::mutex> guard(parkedLock());
    return parked().size();
}

SerialSession::SerialSession(SerialPortServices& services, std::shared_ptr<std::atomic<std::uint32_t>> lineErrorCount)
    : sys(services), codes(services.codes()), writeIo(services.newIo()),
      lineErrors_(std::move(lineErrorCount)),
      waitIo_(services.newIo()), readIo_(services.newIo()), byteIo_(services.newIo()) {}

bool SerialSession::startDriverLane(int& code) {
    // At the listener's priority: a request of the owner waits on it. A hang
    // in a call of the listener is told from the lane's thread, whose session
    // may be going meanwhile.
    return driver.start(
        code, [services = &sys] { services->raiseThreadPriority(); },
        [weak = weak_from_this()] {
            if (const auto self = weak.lock(); self && !self->stopRequested.load()) self->tellIfGivenUp();
        });
}

void SerialSession::tellIfGivenUp() {
    const char* call = driver.stuckCall();
    if (!call || !onError || (isListenerThread() && stopRequested.load())) return;
    if (givenUpTold_.exchange(true)) return;
    onError(gbk("串口驱动无响应：") + call + gbk(" 超过 ") + std::to_string(driverCallBoundMs) +
            gbk(" 毫秒未返回，已放弃该串口。请拔下USB线重新插入。"));
}

std::optional<std::pair<int, SerialPortState>> SerialSession::readPortState() {
    return driverQuery<SerialPortState>("ClearCommError", [](SerialPortServices& services, SerialHandle handle,
                                                             SerialPortState& state) { return services.readState(handle, state); });
}

SerialSession::~SerialSession() = default;

bool SerialSession::startListener(int& code) {
    try {
        // A listener left to end on its own keeps what it uses.
        thread = std::thread([self = shared_from_this()] { self->listen(); });
    } catch (const std::system_error& e) {
        code = e.code().value();
        return false;
    }
    return true;
}

bool SerialSession::stopAndRelease(int boundMs) {
    listening.store(false);
    stopRequested.store(true);
    if (wake != noSerialHandle) sys.signalWake(wake);
    // An emptied event mask ends a pending event wait in the driver.
    if (port != noSerialHandle)
        driverCall("SetCommMask", [](SerialPortServices& services, SerialHandle handle) {
            return services.setEventMask(handle, 0);
        });
    if (thread.joinable()) {
        std::unique_lock<std::mutex> guard(endLock_);
        if (!ended_.wait_for(guard, std::chrono::milliseconds(boundMs), [&] { return listenerEnded_; })) {
            // A driver holds the listener up: it releases the port when it ends.
            ownerGaveUp_ = true;
            guard.unlock();
            thread.detach();
            tellIfGivenUp();
            return false;
        }
        guard.unlock();
        thread.join();
    }
    releaseHandles();
    tellIfGivenUp();
    return true;
}

void SerialSession::releaseHandles() {
    // Under the read lock: a purge that took the session before the close
    // finishes with the port before it goes.
    std::lock_guard<std::mutex> guard(readLock_);
    // Queued even behind a call the driver holds: the port is closed if it
    // ever lets go.
    if (port != noSerialHandle) driver.last("CloseHandle", [services = &sys, handle = port] { services->close(handle); });
    port = noSerialHandle;
    if (wake != noSerialHandle) sys.closeWake(wake);
    wake = noSerialHandle;
}

void SerialSession::listen() {
    listenerId_.store(std::this_thread::get_id());
    sys.raiseThreadPriority();
    while (listening.load()) {
        const bool waitArmed = readsForEvents_ || armEventWait();
        // The look that followed the last read, if any, stands for this one.
        std::optional<Look> look = std::exchange(lookAfterRead_, std::nullopt);
        if (!look) look = lookAtPort();
        const auto& read = look->read;
        if (!read) break; // the driver is hung: the port was given up
        // A lost port reads as an empty one: the wait below fails and pauses.
        const SerialPortState state = read->first == 0 ? read->second : SerialPortState{};
        lookFoundQuiet_ = waitArmed && foundQuiet(*look);
        sendStepsAtLook_ = look->sendSteps;
        if (state.errorBits != 0) ++*lineErrors_;
        const std::int32_t errorBits = state.errorBits | pendingErrorBits_.exchange(0);
        if (state.outputQueued > 0) status(state.outputQueued, 0, 0, 0);
        if (state.inputQueued > 0 || heldByte_ >= 0) {
            if (state.inputQueued > 0) status(0, state.inputQueued, 0, 0);
            deliver(state.inputQueued);
            // Line errors come with the bytes they spoiled: reported now too.
            reportState(errorBits, state.holdBits);
            continue;
        }
        // A handler may have closed the channel: nothing more is raised then.
        if (stopRequested.load()) break;
        // Reported before the wait, which may last.
        reportState(errorBits, state.holdBits);
        waitForEvents();
    }
    publishQuiet(nullptr, 0); // a look after a read may have left it published
    tellIfGivenUp();
    endPendingOperations();
    bool releaseMyself = false;
    {
        std::lock_guard<std::mutex> guard(endLock_);
        listenerEnded_ = true;
        releaseMyself = ownerGaveUp_;
    }
    ended_.notify_all();
    if (releaseMyself) releaseHandles();
}

void SerialSession::reportState(std::int32_t errorBits, std::int32_t holdBits) {
    if (errorBits != 0) status(0, 0, errorBits, 0);
    if (holdBits != 0) status(0, 0, 0, holdBits);
}

void SerialSession::pause() { sys.sleep(wake, pauseMs); }

// Everything that waits, in one read and one onData call.
void SerialSession::deliver(std::int32_t queued) {
    const std::size_t count = queued > 0 ? static_cast<std::size_t>(queued) : 0;
    if (readIo_->bytes.size() < count) readIo_->bytes.resize(count);
    std::uint64_t purgesBeforeRead = 0;
    int code = 0;
    {
        std::lock_guard<std::mutex> guard(readLock_);
        purgesBeforeRead = purges_.load();
        readIo_->transferred = 0;
        if (count > 0) code = sys.startRead(port, *readIo_, count);
    }
    if (code == serialIoPending) {
        // The bytes are there: the read ends at once, unless the owner's
        // read time-outs let it wait for more.
        const std::uint64_t limit = std::uint64_t{readTimeoutPerByte.load()} * count + readTimeoutConstant.load() + readGraceMs;
        code = sys.finish(port, *readIo_, static_cast<int>(std::min<std::uint64_t>(limit, 60000)), wake);
        if (code == serialIoPending) {
            abandon(readIo_);
            // A driver that keeps reads is tried again only after a while:
            // each read it keeps stays with it.
            if (!stopRequested.load()) sys.sleep(wake, idleWaitMs);
            code = codes.aborted;
        }
    }
    std::size_t got = code == 0 ? std::min(readIo_->transferred, count) : 0; // a failed read yields no bytes
    if (code == codes.aborted) clearAfterAbort();
    // The port is looked at again before the handler runs, not after: the
    // owner it wakes purges and sends within microseconds, and a purge that
    // comes before the listener knows the queues are empty goes to the
    // driver. Only while an event wait is pending, which then began before
    // this look.
    if (got > 0 && waitPending_ && !readsForEvents_ && !stopRequested.load()) {
        lookAfterRead_ = lookAtPort();
        if (foundQuiet(*lookAfterRead_)) publishQuiet(waitIo_.get(), lookAfterRead_->sendSteps);
    }

    delivery_.clear();
    if (heldByte_ >= 0 && purgesAtHeldByte_ == purgesBeforeRead) delivery_.push_back(static_cast<std::uint8_t>(heldByte_));
    heldByte_ = -1;
    delivery_.insert(delivery_.end(), readIo_->bytes.begin(), readIo_->bytes.begin() + static_cast<std::ptrdiff_t>(got));
    {
        std::lock_guard<std::mutex> guard(deliveryLock_);
        // A purge since the read: these bytes were waiting before it.
        if (purges_.load() != purgesBeforeRead) return;
        delivering_ = true;
    }
    const auto begin = delivery_.begin();
    auto end = delivery_.end();
    const int flag = eventChar.load();
    const bool flagChar = flag >= 0 && std::find(begin, end, flag) != end;
    const std::int64_t size = inputQueueSize.load();
    const bool nearlyFull = static_cast<std::int64_t>(queued) * 10 >= size * 8;
    if (discardNull.load()) end = std::remove(begin, end, 0);
    if (onData && !stopRequested.load()) onData(delivery_.data(), static_cast<std::int32_t>(end - begin));
    {
        std::lock_guard<std::mutex> guard(deliveryLock_);
        delivering_ = false;
    }
    deliveryDone_.notify_all();
    if (flagChar) notify(NotifyFlagChar);
    if (nearlyFull) notify(NotifyInputNearlyFull);
    // A driver that counts bytes it then does not hand over would keep the
    // listener reading nothing: it looks again after a pause.
    if (got == 0 && count > 0) pause();
}

bool SerialSession::purge(bool clearOutput, bool clearInput) {
    bool done = false;
    {
        std::lock_guard<std::mutex> guard(readLock_);
        if (port == noSerialHandle) return false; // closed meanwhile
        if (clearInput) {
            markByteReadForPurge();
            ++purges_;
        }
        // Counted all the same (bytes read before it are dropped), but left
        // out of the driver when its queues are known to be empty: a
        // request purges before every block, and the driver's call is a
        // trip to the port's lane.
        done = queuesKnownEmpty() ||
               driverCall("PurgeComm", [clearOutput, clearInput](SerialPortServices& services, SerialHandle handle) {
                   return services.purge(handle, clearOutput, clearInput);
               }) == 0;
    }
    // A handler that purges does not wait for its own delivery. An owner
    // that purges while holding a lock its onData handler waits for would
    // wait forever: the wait is bounded.
    if (clearInput && !isListenerThread()) {
        std::unique_lock<std::mutex> guard(deliveryLock_);
        deliveryDone_.wait_for(guard, std::chrono::milliseconds(deliveryWaitMs), [&] { return !delivering_; });
    }
    return done;
}

bool SerialSession::queuesKnownEmpty() {
    std::lock_guard<std::mutex> guard(quietLock_);
    return quietIo_ && sendSteps_.load() == quietSendSteps_ && sys.inputQuiet(port, *quietIo_);
}

SerialSession::Look SerialSession::lookAtPort() {
    Look look;
    look.sendSteps = sendSteps_.load(); // before the look: a send under way shows in it
    look.read = readPortState();
    return look;
}

bool SerialSession::foundQuiet(const Look& look) const {
    // A one-byte read completes for bytes that came before it too: it may
    // start after the look.
    return look.read && look.read->first == 0 && look.read->second.inputQueued == 0 &&
           look.read->second.outputQueued == 0 && heldByte_ < 0;
}

void SerialSession::publishQuiet(SerialIo* io, std::uint64_t sendStepsAtLook) {
    std::lock_guard<std::mutex> guard(quietLock_);
    quietIo_ = io;
    quietSendSteps_ = sendStepsAtLook;
}

int SerialSession::finishWatched(SerialIo& io) {
    // Published for the wait (again, when the look after the read did).
    if (lookFoundQuiet_) publishQuiet(&io, sendStepsAtLook_);
    const int code = sys.finish(port, io, idleWaitMs, wake);
    if (lookFoundQuiet_) publishQuiet(nullptr, 0);
    return code;
}

bool SerialSession::armEventWait() {
    if (waitPending_) return true;
    if (stopRequested.load()) return false; // close has emptied the mask, or is about to
    waitIo_->events = 0;
    purgesAtWait_ = purges_.load();
    const int code = sys.startWait(port, *waitIo_);
    if (code == 0) return false; // completed at once: not decoded
    if (code != serialIoPending) {
        // Refused: drivers without modem lines refuse a mask that includes
        // their events; the others still come. A driver that refuses even
        // those cannot wait for events at all.
        if (mask_ & modemLineEvents) {
            mask_ &= ~modemLineEvents;
            driverCall("SetCommMask", [mask = mask_](SerialPortServices& services, SerialHandle handle) {
                return services.setEventMask(handle, mask);
            });
        } else if (++refusedWaits_ >= 2) {
            readsForEvents_ = true;
            return false;
        }
        pause();
        return false;
    }
    waitPending_ = true;
    return true;
}

void SerialSession::waitForEvents() {
    if (readsForEvents_) {
        waitByReading();
        return;
    }
    if (!waitPending_) return; // not started: the next pass tries again
    // A wait that is still pending when this returns is kept: the next pass
    // waits on it again (nothing that happens meanwhile is missed).
    const int code = finishWatched(*waitIo_);
    if (code == serialIoPending) return;
    waitPending_ = false;
    if (code == 0) {
        unpromptedAborts_ = 0;
        raise(waitIo_->events);
        return;
    }
    waitEnded(code, purgesAtWait_);
}

// An event wait ended with an error.
void SerialSession::waitEnded(int code, std::uint64_t purgesAtStart) {
    if (stopRequested.load()) return;
    if (code == codes.aborted) {
        // Not by this channel: it ends waits only when it closes. A line
        // error, or a purge, may end it on some drivers; otherwise the
        // driver ended it by itself. One that keeps doing so on a port that
        // answers cannot wait for events (emulators do this with
        // pseudo-terminals): reads wait for input instead.
        const bool purged = purges_.load() != purgesAtStart;
        const auto read = readPortState();
        if (!read) return; // given up: the listener ends at its next pass
        if (read->first == 0) {
            const SerialPortState& state = read->second;
            if (state.errorBits != 0) {
                ++*lineErrors_;
                pendingErrorBits_ |= state.errorBits;
            } else if (!purged && ++unpromptedAborts_ >= abortsBeforeReads) {
                readsForEvents_ = true;
            }
            return;
        }
    }
    // The port is gone or failing: look again after a pause.
    pause();
}

void SerialSession::markByteReadForPurge() {
    std::lock_guard<std::mutex> guard(byteReadLock_);
    if (!byteReadPending_) return;
    // A read that has completed already holds a byte from before the purge,
    // which goes with the purged ones. One still pending ends aborted, or,
    // where the driver leaves it pending through the purge (emulators do),
    // with the first byte that comes after it: that byte is kept.
    if (sys.finish(port, *byteIo_, 0, noSerialHandle) != serialIoPending) byteReadStale_ = true;
}

void SerialSession::waitByReading() {
    bool pending = false;
    {
        std::lock_guard<std::mutex> guard(byteReadLock_);
        pending = byteReadPending_;
    }
    if (!pending) {
        int code = 0;
        {
            std::lock_guard<std::mutex> guard(byteReadLock_);
            purgesAtByteRead_ = purges_.load();
            byteIo_->bytes.assign(1, 0);
            byteIo_->transferred = 0;
            code = sys.startRead(port, *byteIo_, 1);
            byteReadPending_ = code == serialIoPending;
        }
        if (code != serialIoPending) {
            if (code == 0 && byteIo_->transferred == 1) {
                heldByte_ = byteIo_->bytes[0];
                purgesAtHeldByte_ = purgesAtByteRead_;
                return;
            }
            // Nothing came (a driver whose reads return at once), or the
            // read failed: no spinning.
            if (code == codes.aborted) clearAfterAbort();
            pause();
            return;
        }
    }
    // Not under the lock: a purge looks at the read meanwhile.
    const int code = finishWatched(*byteIo_);
    if (code == serialIoPending) return;
    bool stale = false;
    std::uint64_t purgesNow = 0;
    {
        std::lock_guard<std::mutex> guard(byteReadLock_);
        byteReadPending_ = false;
        stale = byteReadStale_;
        byteReadStale_ = false;
        purgesNow = purges_.load();
    }
    if (code == 0 && byteIo_->transferred == 1) {
        if (!stale) {
            heldByte_ = byteIo_->bytes[0];
            purgesAtHeldByte_ = purgesNow;
        }
        return;
    }
    if (code == codes.aborted && purges_.load() != purgesAtByteRead_) return; // ended by a purge
    if (code == codes.aborted && clearAfterAbort() == AbortCause::LineError) return;
    pause();
}

void SerialSession::raise(std::uint32_t events) {
    int lines = 0;
    bool linesKnown = false;
    if (events & modemLineEvents) {
        const auto read = driverQuery<int>("GetCommModemStatus", [](SerialPortServices& services, SerialHandle handle,
                                                                     int& value) { return services.modemLines(handle, value); });
        linesKnown = read && read->first == 0;
        if (linesKnown) lines = read->second;
    }
    // Without readable lines a change is reported as the line going off,
    // and a ring not at all. The flag character and a nearly full input
    // queue are told from the delivered bytes.
    auto on = [&](int bit) { return linesKnown && (lines & bit) != 0; };
    if (events & EventTxEmpty) notify(NotifyOutputEmpty);
    if (events & EventCts) notify(on(ModemCts) ? NotifyCtsOn : NotifyCtsOff);
    if (events & EventDsr) notify(on(ModemDsr) ? NotifyDsrOn : NotifyDsrOff);
    if (events & EventRlsd) notify(on(ModemRlsd) ? NotifyRlsdOn : NotifyRlsdOff);
    if (events & EventBreak) notify(NotifyBreak);
    if (events & EventError) notify(NotifyLineError);
    if ((events & EventRing) && on(ModemRing)) notify(NotifyRing);
}

SerialSession::AbortCause SerialSession::clearAfterAbort() {
    const auto read = readPortState();
    if (!read || read->first != 0) return AbortCause::PortFailing;
    const SerialPortState& state = read->second;
    if (state.errorBits == 0) return AbortCause::Unknown;
    ++*lineErrors_;
    pendingErrorBits_ |= state.errorBits;
    return AbortCause::LineError;
}

void SerialSession::abandon(std::unique_ptr<SerialIo>& io) {
    sys.cancel(port, *io);
    if (sys.finish(port, *io, cancelGraceMs, noSerialHandle) != serialIoPending) return;
    parkSerialIo(std::move(io));
    io = sys.newIo();
}

void SerialSession::endPendingOperations() {
    // Close emptied the event mask, which ends a pending event wait.
    if (waitPending_ && sys.finish(port, *waitIo_, cancelGraceMs, noSerialHandle) == serialIoPending)
        abandon(waitIo_);
    waitPending_ = false;
    std::lock_guard<std::mutex> guard(byteReadLock_);
    if (byteReadPending_) abandon(byteIo_);
    byteReadPending_ = false;
}

int SerialSession::writeBoundMs(std::size_t count) const {
    const std::uint64_t byTimeouts = std::uint64_t{timeouts[3]} * count + timeouts[4];
    const std::uint64_t line = count * 10 * 1000 / static_cast<std::uint64_t>(std::max(baudRate, 1)) + writeMarginMs;
    return static_cast<int>(std::min<std::uint64_t>(std::min(byTimeouts, line), 600000));
}

bool SerialSession::send(const std::uint8_t* bytes, std::int32_t count, std::int32_t& written, bool& cutShort) {
    // Counted as it starts and as it ends: a purge meanwhile, or after it
    // until the listener looks again, goes to the driver.
    ++sendSteps_;
    struct Ended {
        std::atomic<std::uint64_t>& steps;
        ~Ended() { ++steps; }
    } ended{sendSteps_};
    const auto total = static_cast<std::size_t>(count);
    std::size_t done = 0;
    bool wentPending = false;
    // A transfer aborted after a line error goes on once the error is cleared.
    for (int attempt = 0; attempt < 2 && done < total; ++attempt) {
        SerialIo& io = *writeIo;
        io.bytes.assign(bytes + done, bytes + total);
        io.transferred = 0;
        int code = sys.startWrite(port, io);
        if (code == serialIoPending) {
            wentPending = true;
            code = sys.finish(port, io, writeBoundMs(io.bytes.size()), noSerialHandle);
            if (code == serialIoPending) { // the driver keeps it: given up
                const std::size_t before = io.transferred;
                abandon(writeIo);
                done += before;
                break;
            }
        }
        if (code == 0 || wentPending) done += std::min(io.transferred, io.bytes.size());
        // The listener may have cleared the error first: any abort on a
        // port that answers is tried once more.
        if (code == codes.aborted && clearAfterAbort() != AbortCause::PortFailing) continue;
        break;
    }
    written = static_cast<std::int32_t>(done);
    cutShort = wentPending && done < total;
    return done > 0;
}

} // namespace mub
