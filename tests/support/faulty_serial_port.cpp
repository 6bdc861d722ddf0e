#include "tests/support/faulty_serial_port.h"

#include <algorithm>
#include <thread>

namespace mub::test {

struct FaultySerialPort::Io : SerialIo {
    explicit Io(FaultySerialPort& owner) : device(owner) {}
    ~Io() override { device.freed(*this); }
    FaultySerialPort& device;
    enum class Kind { Wait, Read, Write } kind = Kind::Read;
    bool pending = false;
    int result = 0;
    std::size_t want = 0;
    bool hasDeadline = false; // a write beyond the line's capacity ends when its time-outs run out
    Clock::time_point deadline;
};

FaultySerialPort::~FaultySerialPort() {
    releaseOpens();
    releaseHangs();
    // A call let go still has to leave before the device goes.
    std::unique_lock<std::mutex> guard(hangLock_);
    hangChanged_.wait_for(guard, std::chrono::seconds(5), [&] { return hanging_ == 0; });
}

void FaultySerialPort::releaseHangs() {
    std::lock_guard<std::mutex> guard(hangLock_);
    hangsReleased_ = true;
    hangChanged_.notify_all();
}

int FaultySerialPort::callsHanging() const {
    std::lock_guard<std::mutex> guard(hangLock_);
    return hanging_;
}

void FaultySerialPort::holdIfHanging(Call call) {
    if (hangIn.load() != call) return;
    std::unique_lock<std::mutex> guard(hangLock_);
    ++hanging_;
    hangChanged_.wait(guard, [&] { return hangsReleased_; });
    --hanging_;
    hangChanged_.notify_all();
}

void FaultySerialPort::freed(Io& io) {
    std::lock_guard<std::mutex> guard(lock_);
    if (pending_.erase(&io) != 0) ++freedWhilePending_;
}

void FaultySerialPort::complete(Io& io, int result) {
    io.pending = false;
    io.result = result;
    pending_.erase(&io);
    changed_.notify_all();
}

void FaultySerialPort::signalEvents(std::uint32_t events) {
    events &= mask_;
    if (events == 0) return;
    for (Io* io : pending_) {
        if (io->kind == Io::Kind::Wait && io->pending) {
            io->events = events;
            complete(*io, 0);
            return;
        }
    }
    history_ |= events;
}

void FaultySerialPort::takeBytes(Io& io) {
    const std::size_t n = std::min(io.want, input_.size());
    std::copy_n(input_.begin(), n, io.bytes.begin());
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
    io.transferred = n;
}

bool FaultySerialPort::woken(SerialHandle wake) const {
    auto it = wakes_.find(wake);
    return it != wakes_.end() && it->second;
}

void FaultySerialPort::arrive(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!open_ || bytes.empty()) return;
    input_.insert(input_.end(), bytes.begin(), bytes.end());
    if (!readsStayPending.load()) {
        std::vector<Io*> reads;
        for (Io* io : pending_)
            if (io->kind == Io::Kind::Read) reads.push_back(io);
        for (Io* io : reads) {
            takeBytes(*io);
            complete(*io, 0);
        }
    }
    signalEvents(EventRxChar);
    changed_.notify_all();
}

std::vector<std::uint8_t> FaultySerialPort::sent() const {
    std::lock_guard<std::mutex> guard(lock_);
    return sent_;
}

void FaultySerialPort::lineError(std::int32_t bits) {
    std::lock_guard<std::mutex> guard(lock_);
    errorBits_ |= bits;
    if (line_.abortOnError) {
        aborting_ = true;
        std::vector<Io*> transfers;
        for (Io* io : pending_)
            if (io->kind != Io::Kind::Wait) transfers.push_back(io);
        for (Io* io : transfers) complete(*io, Aborted);
    }
    signalEvents(EventError);
}

void FaultySerialPort::releaseOpens() {
    std::lock_guard<std::mutex> guard(lock_);
    releaseOpens_ = true;
    changed_.notify_all();
}

int FaultySerialPort::opens() const {
    std::lock_guard<std::mutex> guard(lock_);
    return opens_;
}
int FaultySerialPort::closes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return closes_;
}
int FaultySerialPort::opensUnderWay() const {
    std::lock_guard<std::mutex> guard(lock_);
    return opensUnderWay_;
}
std::vector<std::string> FaultySerialPort::openedPaths() const {
    std::lock_guard<std::mutex> guard(lock_);
    return paths_;
}
int FaultySerialPort::reads() const {
    std::lock_guard<std::mutex> guard(lock_);
    return reads_;
}
int FaultySerialPort::purges() const {
    std::lock_guard<std::mutex> guard(lock_);
    return purges_;
}
int FaultySerialPort::finishesWaiting() const {
    std::lock_guard<std::mutex> guard(lock_);
    return finishing_;
}
void FaultySerialPort::holdFinishes(bool held) {
    std::lock_guard<std::mutex> guard(lock_);
    finishesHeld_ = held;
    changed_.notify_all();
}
bool FaultySerialPort::inputQuiet(SerialHandle, SerialIo& base) {
    std::lock_guard<std::mutex> guard(lock_);
    return tellsQuiet.load() && static_cast<Io&>(base).pending;
}
int FaultySerialPort::eventWaits() const {
    std::lock_guard<std::mutex> guard(lock_);
    return waits_;
}
int FaultySerialPort::pauses() const {
    std::lock_guard<std::mutex> guard(lock_);
    return pauses_;
}
int FaultySerialPort::freedWhilePending() const {
    std::lock_guard<std::mutex> guard(lock_);
    return freedWhilePending_;
}

bool FaultySerialPort::waitFor(const std::function<bool()>& condition, int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (Clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

int FaultySerialPort::writesPending() const {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int>(std::count_if(pending_.begin(), pending_.end(),
                                          [](const Io* io) { return io->kind == Io::Kind::Write; }));
}

void FaultySerialPort::abortPendingWait() {
    std::lock_guard<std::mutex> guard(lock_);
    for (Io* io : pending_) {
        if (io->kind == Io::Kind::Wait) {
            complete(*io, Aborted);
            return;
        }
    }
}

int FaultySerialPort::open(const std::string& path, SerialHandle& port) {
    std::unique_lock<std::mutex> guard(lock_);
    paths_.push_back(path);
    if (const int code = openError.load()) return code;
    ++opensUnderWay_;
    changed_.wait_for(guard, std::chrono::milliseconds(openDelayMs.load()), [&] { return releaseOpens_; });
    --opensUnderWay_;
    changed_.notify_all();
    if (open_) return AccessDenied;
    open_ = true;
    ++opens_;
    input_.clear();
    lineTaken_ = 0;
    mask_ = 0;
    history_ = 0;
    errorBits_ = 0;
    aborting_ = false;
    port = 1;
    return 0;
}

void FaultySerialPort::close(SerialHandle) {
    holdIfHanging(Call::Close);
    std::lock_guard<std::mutex> guard(lock_);
    open_ = false;
    ++closes_;
    changed_.notify_all();
}

int FaultySerialPort::setEventMask(SerialHandle, std::uint32_t events) {
    std::lock_guard<std::mutex> guard(lock_);
    mask_ = events;
    history_ = 0;
    if (events == 0 && !cancelIgnored.load()) {
        for (Io* io : pending_) {
            if (io->kind == Io::Kind::Wait) {
                io->events = 0;
                complete(*io, 0);
                break;
            }
        }
    }
    return 0;
}

int FaultySerialPort::setQueueSizes(SerialHandle, std::int32_t, std::int32_t) { return 0; }

int FaultySerialPort::setTimeouts(SerialHandle, const std::uint32_t timeouts[5]) {
    std::lock_guard<std::mutex> guard(lock_);
    std::copy(timeouts, timeouts + 5, timeouts_);
    return 0;
}

int FaultySerialPort::getLine(SerialHandle, SerialLineParams& params) {
    holdIfHanging(Call::GetLine);
    std::lock_guard<std::mutex> guard(lock_);
    params = line_;
    return 0;
}

int FaultySerialPort::setLine(SerialHandle, const SerialLineParams& params) {
    holdIfHanging(Call::SetLine);
    std::lock_guard<std::mutex> guard(lock_);
    line_ = params;
    return 0;
}

int FaultySerialPort::readState(SerialHandle, SerialPortState& state) {
    holdIfHanging(Call::ReadState);
    std::lock_guard<std::mutex> guard(lock_);
    state = {};
    const int unplugged = pendingIoError.load();
    if (unplugged == AccessDenied || unplugged == BadCommand) return unplugged;
    state.inputQueued = static_cast<std::int32_t>(input_.size());
    state.errorBits = errorBits_;
    errorBits_ = 0;
    aborting_ = false;
    return 0;
}

int FaultySerialPort::purge(SerialHandle, bool output, bool input) {
    holdIfHanging(Call::Purge);
    std::lock_guard<std::mutex> guard(lock_);
    ++purges_;
    if (input) input_.clear();
    if (cancelIgnored.load()) return 0;
    std::vector<Io*> ended;
    for (Io* io : pending_)
        if ((input && io->kind == Io::Kind::Read && !purgeLeavesReads.load()) ||
            (output && io->kind == Io::Kind::Write))
            ended.push_back(io);
    for (Io* io : ended) complete(*io, Aborted);
    return 0;
}

int FaultySerialPort::lineControl(SerialHandle, int code) { return code >= 1 && code <= 8 ? 0 : 87; }

// No modem lines, as on a pseudo-terminal.
int FaultySerialPort::modemLines(SerialHandle, int& lines) {
    lines = 0;
    return NotSupported;
}

std::unique_ptr<SerialIo> FaultySerialPort::newIo() { return std::make_unique<Io>(*this); }

int FaultySerialPort::startWait(SerialHandle, SerialIo& base) {
    Io& io = static_cast<Io&>(base);
    std::lock_guard<std::mutex> guard(lock_);
    ++waits_;
    io.kind = Io::Kind::Wait;
    io.events = 0;
    if (aborting_) return Aborted;
    if (modemEventsRefused.load() && (mask_ & modemLineEvents)) return NotSupported;
    if (mask_ == 0) return 87;
    io.pending = true;
    pending_.insert(&io);
    if (const int code = pendingIoError.load()) {
        complete(io, code);
    } else if (waitsEndAborted.load()) {
        complete(io, Aborted);
    } else if (history_ & mask_) { // an event since the last wait: completed at once
        io.events = history_ & mask_;
        history_ = 0;
        pending_.erase(&io);
        io.pending = false;
        return 0;
    }
    return serialIoPending;
}

int FaultySerialPort::startRead(SerialHandle, SerialIo& base, std::size_t count) {
    Io& io = static_cast<Io&>(base);
    std::lock_guard<std::mutex> guard(lock_);
    ++reads_;
    io.kind = Io::Kind::Read;
    io.want = std::min(count, io.bytes.size());
    io.transferred = 0;
    if (aborting_) return Aborted;
    if (readsReturnNothing.load()) return 0;
    const int unplugged = pendingIoError.load();
    if (unplugged == 0 && !readsStayPending.load() && !input_.empty()) {
        takeBytes(io);
        return 0;
    }
    // Nothing there yet (the read waits for a byte), unplugged, or a driver
    // that holds reads.
    io.pending = true;
    pending_.insert(&io);
    if (unplugged != 0) complete(io, unplugged);
    return serialIoPending;
}

int FaultySerialPort::startWrite(SerialHandle, SerialIo& base) {
    Io& io = static_cast<Io&>(base);
    std::lock_guard<std::mutex> guard(lock_);
    io.kind = Io::Kind::Write;
    io.transferred = 0;
    io.hasDeadline = false;
    if (aborting_) return Aborted;
    if (const int code = pendingIoError.load()) {
        io.pending = true;
        pending_.insert(&io);
        complete(io, code);
        return serialIoPending;
    }
    const std::size_t capacity = lineCapacity.load();
    const std::size_t room = capacity > lineTaken_ ? capacity - lineTaken_ : 0;
    const std::size_t n = std::min(io.bytes.size(), room);
    sent_.insert(sent_.end(), io.bytes.begin(), io.bytes.begin() + static_cast<std::ptrdiff_t>(n));
    lineTaken_ += n;
    io.transferred = n;
    if (n == io.bytes.size()) {
        signalEvents(EventTxEmpty);
        return 0;
    }
    io.hasDeadline = true;
    io.deadline = Clock::now() + std::chrono::milliseconds(std::uint64_t{timeouts_[3]} * io.bytes.size() + timeouts_[4]);
    io.pending = true;
    pending_.insert(&io);
    return serialIoPending;
}

int FaultySerialPort::finish(SerialHandle, SerialIo& base, int timeoutMs, SerialHandle wake) {
    Io& io = static_cast<Io&>(base);
    std::unique_lock<std::mutex> guard(lock_);
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    const bool listening = timeoutMs > 0 && io.kind != Io::Kind::Write;
    finishing_ += listening ? 1 : 0;
    struct Left {
        int& count;
        bool counted;
        ~Left() { count -= counted ? 1 : 0; }
    } left{finishing_, listening};
    for (;;) {
        if (!io.pending && !(listening && finishesHeld_)) return io.result;
        if (woken(wake)) return serialIoPending;
        const auto now = Clock::now();
        if (io.hasDeadline && now >= io.deadline) { // the write time-outs ran out: what went out counts
            complete(io, 0);
            return 0;
        }
        if (now >= until) return serialIoPending;
        changed_.wait_until(guard, io.hasDeadline ? std::min(until, io.deadline) : until);
    }
}

void FaultySerialPort::cancel(SerialHandle, SerialIo& base) {
    Io& io = static_cast<Io&>(base);
    std::lock_guard<std::mutex> guard(lock_);
    if (io.pending && !cancelIgnored.load()) complete(io, Aborted);
}

int FaultySerialPort::createWake(SerialHandle& wake) {
    std::lock_guard<std::mutex> guard(lock_);
    wake = nextWake_++;
    wakes_[wake] = false;
    return 0;
}

void FaultySerialPort::signalWake(SerialHandle wake) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = wakes_.find(wake);
    if (it != wakes_.end()) it->second = true;
    changed_.notify_all();
}

void FaultySerialPort::closeWake(SerialHandle wake) {
    std::lock_guard<std::mutex> guard(lock_);
    wakes_.erase(wake);
}

void FaultySerialPort::sleep(SerialHandle wake, int ms) {
    std::unique_lock<std::mutex> guard(lock_);
    ++pauses_;
    changed_.wait_for(guard, std::chrono::milliseconds(ms), [&] { return woken(wake); });
}

} // namespace mub::test
