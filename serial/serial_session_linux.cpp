#include "serial/serial_session.h"

#include "serial/serial_codes.h"

#include <algorithm>
#include <chrono>

namespace mub {
namespace {

constexpr int passTimeoutMs = 20;       // the listener looks at the line at least this often
constexpr int idleTimeoutMs = 1000;     // ... unless there is nothing to look at but input
constexpr std::size_t readChunk = 4096; // smallest read buffer
constexpr int deliveryWaitMs = 100;     // longest a purge waits for an onData call in progress

} // namespace

void SerialSession::takeLineBaseline() {
    linesReadable_ = sys.modemLines(handle, lines_) == 0;
    countsReadable_ = sys.lineCounts(handle, counts_) == 0;
}

void SerialSession::listen() {
    listenerId_.store(std::this_thread::get_id());
    sys.raiseThreadPriority();
    std::vector<std::uint8_t> buffer(readChunk);
    while (listening.load()) {
        std::int32_t inputQueued = 0, outputQueued = 0;
        sys.queueCounts(handle, inputQueued, outputQueued);
        if (outputQueued > 0) status(outputQueued, 0, 0, 0);

        Input input;
        if (inputQueued > 0) {
            status(0, inputQueued, 0, 0);
            input = deliverWaitingInput(inputQueued, buffer);
        }
        // A handler may have closed the channel: nothing more is raised then.
        if (stopRequested.load()) break;
        if (!input.delivered) {
            waitForInput();
            if (stopRequested.load()) break;
        }

        // Line events are raised also on passes that delivered data: line
        // errors come with the bytes they spoiled and would otherwise be lost.
        const LineEvents events = readLineEvents();
        const bool outputEmpty = outputJustEmptied(outputQueued);
        raise(input, events, outputEmpty, outputQueued);
    }
}

SerialSession::Input SerialSession::deliverWaitingInput(std::int32_t queued, std::vector<std::uint8_t>& buffer) {
    Input input;
    const std::int64_t size = inputQueueSize.load();
    input.nearlyFull = static_cast<std::int64_t>(queued) * 10 >= size * 8;

    // Everything that waits, in one read and one onData call.
    if (buffer.size() < static_cast<std::size_t>(queued)) buffer.resize(static_cast<std::size_t>(queued));
    std::size_t got = 0;
    std::uint64_t purgesBeforeRead = 0;
    {
        std::lock_guard<std::mutex> guard(readLock);
        purgesBeforeRead = purges_.load();
        if (sys.read(handle, buffer.data(), buffer.size(), got) != 0) got = 0; // a failed read yields no bytes
    }
    {
        std::lock_guard<std::mutex> guard(deliveryLock_);
        // A purge since the read: these bytes were waiting before it.
        if (purges_.load() != purgesBeforeRead) return input;
        delivering_ = true;
    }
    const auto begin = buffer.begin();
    auto end = begin + static_cast<std::ptrdiff_t>(got);
    const int flag = eventChar.load();
    if (flag >= 0) input.flagChar = std::find(begin, end, flag) != end;
    if (discardNull.load()) end = std::remove(begin, end, 0);
    const auto count = static_cast<std::int32_t>(end - begin);
    if (onData) onData(buffer.data(), count);
    {
        std::lock_guard<std::mutex> guard(deliveryLock_);
        delivering_ = false;
    }
    deliveryDone_.notify_all();
    input.delivered = got > 0;
    return input;
}

bool SerialSession::purge(bool clearOutput, bool clearInput) {
    bool done = false;
    {
        std::lock_guard<std::mutex> guard(readLock);
        if (handle < 0) return false; // closed meanwhile
        done = sys.flush(handle, clearOutput, clearInput) == 0;
        if (clearInput) ++purges_;
    }
    // A handler that purges does not wait for its own delivery. An owner
    // that purges while holding a lock its onData handler waits for would
    // wait forever: the wait is bounded.
    if (clearInput && std::this_thread::get_id() != listenerId_.load()) {
        std::unique_lock<std::mutex> guard(deliveryLock_);
        deliveryDone_.wait_for(guard, std::chrono::milliseconds(deliveryWaitMs), [&] { return !delivering_; });
    }
    return done;
}

void SerialSession::waitForInput() {
    if (stopRequested.load()) return;
    // Modem lines, error counts and the emptying output queue are polled;
    // with none of them to watch the listener sleeps until bytes come or
    // close wakes it.
    const bool watch = linesReadable_ || countsReadable_ || outputPending.load();
    SerialWaitResult wait;
    const int code = sys.waitReadable(handle, wake, watch ? passTimeoutMs : idleTimeoutMs, wait);
    if (stopRequested.load()) return;
    // A failed wait, or a device that hung up (unplugged, or the other end
    // of a pseudo-terminal closed), would return at once: pause instead of
    // spinning. A hung-up terminal also reports itself readable although
    // nothing can be read from it any more, so readability does not count.
    if (code != 0 || wait.hangup) pause();
}

void SerialSession::pause() {
    SerialWaitResult ignored; // close cuts the pause short
    sys.waitReadable(wake, -1, passTimeoutMs, ignored);
}

SerialSession::LineEvents SerialSession::readLineEvents() {
    LineEvents events;
    SerialLineCounts now;
    if (countsReadable_ && sys.lineCounts(handle, now) == 0) {
        if (now.bufferOverrun != counts_.bufferOverrun) events.errorBits |= ErrorInputOverflow;
        if (now.overrun != counts_.overrun) events.errorBits |= ErrorOverrun;
        if (now.parity != counts_.parity) events.errorBits |= ErrorParity;
        if (now.frame != counts_.frame) events.errorBits |= ErrorFraming;
        if (now.breaks != counts_.breaks) {
            events.errorBits |= ErrorBreak;
            events.breakSeen = true;
        }
        events.ctsChanged = now.cts != counts_.cts;
        events.dsrChanged = now.dsr != counts_.dsr;
        events.rlsdChanged = now.rlsd != counts_.rlsd;
        events.ringSeen = now.ring != counts_.ring;
        counts_ = now;
    }
    int lines = 0;
    events.linesKnown = linesReadable_ && sys.modemLines(handle, lines) == 0;
    if (events.linesKnown) {
        const int changed = lines ^ lines_;
        events.ctsChanged = events.ctsChanged || (changed & ModemCts);
        events.dsrChanged = events.dsrChanged || (changed & ModemDsr);
        events.rlsdChanged = events.rlsdChanged || (changed & ModemRlsd);
        events.ringSeen = events.ringSeen || ((changed & ModemRing) && (lines & ModemRing));
        events.lines = lines;
        lines_ = lines;
    }
    return events;
}

bool SerialSession::outputJustEmptied(std::int32_t& outputQueued) {
    if (!outputPending.load()) return false;
    std::int32_t in = 0, out = 0;
    if (sys.queueCounts(handle, in, out) != 0) return false;
    outputQueued = out;
    if (out != 0) return false;
    outputPending.store(false);
    return true;
}

void SerialSession::raise(const Input& input, const LineEvents& events, bool outputEmpty, std::int32_t outputQueued) {
    // Without readable lines a change is reported as the line going off,
    // and a ring not at all.
    auto on = [&](int bit) { return events.linesKnown && (events.lines & bit) != 0; };
    if (input.flagChar) notify(NotifyFlagChar);
    if (outputEmpty) notify(NotifyOutputEmpty);
    if (events.ctsChanged) notify(on(ModemCts) ? NotifyCtsOn : NotifyCtsOff);
    if (events.dsrChanged) notify(on(ModemDsr) ? NotifyDsrOn : NotifyDsrOff);
    if (events.rlsdChanged) notify(on(ModemRlsd) ? NotifyRlsdOn : NotifyRlsdOff);
    if (events.breakSeen) notify(NotifyBreak);
    if (events.errorBits & ~ErrorBreak) notify(NotifyLineError);
    if (events.ringSeen && on(ModemRing)) notify(NotifyRing);
    if (input.nearlyFull) notify(NotifyInputNearlyFull);

    std::int32_t holdBits = 0;
    if (ctsFlow.load() && outputQueued > 0 && events.linesKnown && !(events.lines & ModemCts)) holdBits |= HoldCts;
    if (events.errorBits != 0) status(0, 0, events.errorBits, 0);
    if (holdBits != 0) status(0, 0, 0, holdBits);
}

} // namespace mub
