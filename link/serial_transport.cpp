#include "link/serial_transport.h"

#include "link/baud_rates.h"
#include "link/port_search.h"
#include "link/reply_latency.h"
#include "platform/bridge_library.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace mub {
namespace {

// A read gives up once nothing new came for this long (21 of the window's
// 1-millisecond ticks).
constexpr std::int32_t silenceLimitMs = 21;
// The longest valid frame: 255 payload bytes, header, length and checksum.
// A framed read that has gathered more holds no valid reply and ends.
constexpr std::size_t longestFrame = 255 + 5;
// What the receive buffer keeps of a machine that streams while nobody reads
// (during a tone or a question): the newest bytes, far more than any reply.
constexpr std::size_t receiveBufferLimit = 4096;
// Most opens end at once (a missing port, a cable adapter): only one that
// takes longer lets the window handle its events meanwhile.
constexpr int quickOpenMs = 50;
constexpr std::int32_t openPollMicros = 10000;

} // namespace

// What the channel's handlers fill: shared with them, so that a listener or
// an open that outlives the transport still has it.
struct SerialTransport::Inbox {
    std::mutex lock;
    Bytes received;
    std::uint32_t status = StatusOk;
    std::string fault; // the channel's last error text since the open
    ReplyLatency latency;
    // Woken when bytes arrive, after `lock` is let go (a reader woken while
    // it is held would find it taken and sleep again); cleared when the
    // transport goes, under a lock of its own.
    std::mutex wakeLock;
    Waits* waits = nullptr;

    void wakeWaits() {
        std::lock_guard<std::mutex> guard(wakeLock);
        if (waits) waits->wake();
    }
    void data(const std::uint8_t* bytes, std::int32_t count) {
        if (count <= 0 || !bytes) return;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (latency.enabled()) latency.arrived(ReplyLatency::Clock::now());
            received.insert(received.end(), bytes, bytes + count);
            if (received.size() > receiveBufferLimit)
                received.erase(received.begin(), received.end() - static_cast<std::ptrdiff_t>(receiveBufferLimit));
        }
        wakeWaits();
    }
    void lineStatus(std::int32_t errorBits) {
        if (errorBits <= 0) return;
        std::lock_guard<std::mutex> guard(lock);
        status = static_cast<std::uint32_t>(errorBits);
    }
    void error(const std::string& text) {
        std::lock_guard<std::mutex> guard(lock);
        status = StatusNoDevice;
        if (!text.empty()) fault = text;
    }
};

struct SerialTransport::OpenAttempt {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    bool opened = false;
    bool givenUp = false; // the transport no longer waits: whatever opens is closed again
    std::thread thread;
};

SerialTransport::SerialTransport(Waits& waits, PortTable ports, SerialPortServices& services)
    : waits_(waits), channel_(std::make_shared<SerialChannel>(std::move(ports), services)),
      inbox_(std::make_shared<Inbox>()) {
    inbox_->waits = &waits_;
}

SerialTransport::~SerialTransport() {
    {
        std::lock_guard<std::mutex> guard(inbox_->wakeLock);
        inbox_->waits = nullptr;
    }
    if (opening_) {
        std::unique_lock<std::mutex> guard(opening_->lock);
        if (!opening_->finished) {
            opening_->givenUp = true;
            guard.unlock();
            opening_->thread.detach();
            return;
        }
        guard.unlock();
        opening_->thread.join();
    }
    channel_->close();
}

void SerialTransport::useBaudRate(int baudIndex) { settings.baudRate = baudRateAt(baudIndex); }

std::uint32_t SerialTransport::open(std::int32_t port, const std::atomic<bool>& running) {
    // An open given up earlier ends before the channel is used again.
    if (opening_ && !waitForOpen(*opening_, running)) return StatusNoDevice;
    if (openUnderWay()) return StatusNoDevice;
    {
        std::lock_guard<std::mutex> guard(inbox_->lock);
        inbox_->fault.clear();
    }
    // A number without a device fails as the channel's open would, without
    // a thread for it: a search tries every number, most of them empty.
    if (channel_->ports().devicePath(port).empty()) {
        inbox_->error({});
        return StatusNoDevice;
    }

    auto attempt = std::make_shared<OpenAttempt>();
    auto run = [attempt, channel = channel_, inbox = inbox_, port, record = settings] {
        const bool opened = channel->open(
            port, record, [inbox](const std::uint8_t* bytes, std::int32_t count) { inbox->data(bytes, count); },
            {}, // the line's events tell the link nothing: the port waits for input alone
            [inbox](std::int32_t, std::int32_t, std::int32_t errorBits, std::int32_t) { inbox->lineStatus(errorBits); },
            [inbox](const std::string& text) { inbox->error(text); });
        bool givenUp = false;
        {
            std::lock_guard<std::mutex> guard(attempt->lock);
            attempt->finished = true;
            attempt->opened = opened;
            givenUp = attempt->givenUp;
        }
        attempt->done.notify_all();
        if (!givenUp)
            inbox->wakeWaits();
        else if (opened)
            channel->close();
    };
    try {
        attempt->thread = std::thread(run);
    } catch (const std::system_error&) {
        run(); // no thread to be had: the open runs here
    }
    opening_ = attempt;
    if (!waitForOpen(*attempt, running)) return StatusNoDevice; // Stop: it goes on by itself
    const bool opened = attempt->opened;
    openUnderWay(); // reaps it
    return opened ? StatusOk : StatusNoDevice;
}

bool SerialTransport::waitForOpen(OpenAttempt& attempt, const std::atomic<bool>& running) {
    {
        std::unique_lock<std::mutex> guard(attempt.lock);
        if (attempt.done.wait_for(guard, std::chrono::milliseconds(quickOpenMs), [&] { return attempt.finished; }))
            return true;
    }
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(attempt.lock);
            if (attempt.finished) return true;
        }
        if (!running.load()) return false;
        waits_.pumpWait(openPollMicros);
    }
}

bool SerialTransport::openUnderWay() {
    if (!opening_) return false;
    {
        std::lock_guard<std::mutex> guard(opening_->lock);
        if (!opening_->finished) return true;
    }
    if (opening_->thread.joinable()) opening_->thread.join();
    opening_.reset();
    return false;
}

void SerialTransport::clear() {
    if (openUnderWay()) return;
    channel_->purge(true, true);
    std::lock_guard<std::mutex> guard(inbox_->lock);
    inbox_->received.clear();
}

std::uint32_t SerialTransport::write(const Bytes& data) {
    if (openUnderWay()) return StatusNoDevice;
    // Anything still queued belongs to an earlier exchange: drop it before the
    // request so the reply read next is the answer to this one. The buffer is
    // emptied once the purge is through: a delivery of old bytes that was in
    // progress when the purge began ends inside it, and would otherwise fill
    // an already emptied buffer.
    channel_->purge(true, true);
    {
        std::lock_guard<std::mutex> guard(inbox_->lock);
        inbox_->received.clear();
        if (inbox_->latency.enabled()) inbox_->latency.written(ReplyLatency::Clock::now());
    }
    if (!channel_->send(data.data(), static_cast<std::int32_t>(data.size()))) return StatusNoDevice;
    // The request is on the line for its bytes' time (10 bits a byte) after
    // the send returns; no reply can start before it is through.
    if (settings.baudRate > 0) {
        const std::uint64_t lineMs = (std::uint64_t{data.size()} * 10000 + static_cast<std::uint64_t>(settings.baudRate) - 1) /
                                     static_cast<std::uint64_t>(settings.baudRate);
        requestSentTick_ = waits_.tickCount() + static_cast<std::uint32_t>(std::min<std::uint64_t>(lineMs, 60000));
        requestOnLine_ = true;
    }
    return status();
}

Bytes SerialTransport::read(std::int32_t count, bool raw, const std::atomic<bool>& running) {
    return readPausedFirst(0, count, raw, running);
}

Bytes SerialTransport::readAfterPause(Waits&, std::int32_t pauseMicroseconds, std::int32_t count, bool raw,
                                      const std::atomic<bool>& running) {
    return readPausedFirst(pauseMicroseconds, count, raw, running);
}

Bytes SerialTransport::readPausedFirst(std::int32_t pauseMicroseconds, std::int32_t count, bool raw,
                                       const std::atomic<bool>& running) {
    const std::int64_t target = raw ? count : 0; // 0: until a line end
    // A read made for a running operation ends once Stop clears the flag.
    const bool stoppable = running.load();
    // The silence allowed counts from the moment the last request has left
    // the line: at 2400 baud "QMTV" takes 17 ms to go out, and its echo would
    // otherwise be due just when the read gives up.
    std::uint32_t lastNews = waits_.tickCount();
    if (requestOnLine_) {
        if (static_cast<std::int32_t>(requestSentTick_ - lastNews) > 0)
            lastNews = requestSentTick_;
        else
            requestOnLine_ = false;
    }
    std::size_t previousLength = 0;
    Inbox& inbox = *inbox_;
    for (;;) {
        // One wait for the rest of the silence allowed: arriving bytes end it
        // at once (their delivery wakes the window). A wait per millisecond
        // would wake every reading thread a thousand times a second.
        const auto quiet = static_cast<std::int32_t>(waits_.tickCount() - lastNews); // below 0 while still sending
        const std::int32_t leftMs = quiet < silenceLimitMs ? silenceLimitMs - quiet : 1;
        if (pauseMicroseconds > 0)
            waits_.pumpWaitAfter(std::exchange(pauseMicroseconds, 0), leftMs * 1000);
        else
            waits_.pumpWait(leftMs * 1000);
        std::lock_guard<std::mutex> guard(inbox.lock);
        Bytes& received = inbox.received;
        const std::size_t length = received.size();
        bool done = false;
        if (stoppable && !running.load()) {
            done = true;
        } else if (target == 0) {
            done = (length >= 2 && received[length - 2] == 0x0D && received[length - 1] == 0x0A) ||
                   length > longestFrame;
        } else {
            done = static_cast<std::int64_t>(length) >= target;
        }
        if (!done) {
            if (length != previousLength) {
                previousLength = length;
                lastNews = waits_.tickCount();
            }
            done = static_cast<std::int32_t>(waits_.tickCount() - lastNews) >= silenceLimitMs;
        }
        if (done) {
            // The port's input queue is deliberately not purged here: a reply
            // that arrives in this instant must reach the next read.
            Bytes result;
            result.swap(received);
            return result;
        }
    }
}

void SerialTransport::close() {
    if (opening_) {
        std::lock_guard<std::mutex> guard(opening_->lock);
        if (!opening_->finished) {
            opening_->givenUp = true; // it closes what it opens
            return;
        }
    }
    openUnderWay(); // reaps a finished one
    channel_->close();
    std::lock_guard<std::mutex> guard(inbox_->lock);
    inbox_->latency.report();
}

std::uint32_t SerialTransport::status() const {
    std::lock_guard<std::mutex> guard(inbox_->lock);
    return inbox_->status;
}

void SerialTransport::setStatus(std::uint32_t status) {
    std::lock_guard<std::mutex> guard(inbox_->lock);
    inbox_->status = status;
}

std::string SerialTransport::fault() const {
    std::lock_guard<std::mutex> guard(inbox_->lock);
    return inbox_->fault;
}

std::unique_ptr<MachineSearch> SerialTransport::newSearch(SearchHost& host) {
    return std::make_unique<PortSearch>(*this, host);
}

void SerialTransport::onSerialData(const std::uint8_t* bytes, std::int32_t count) { inbox_->data(bytes, count); }

void SerialTransport::onSerialStatus(std::int32_t, std::int32_t, std::int32_t errorBits, std::int32_t) {
    inbox_->lineStatus(errorBits);
}

void SerialTransport::onSerialError(const std::string& text) { inbox_->error(text); }

} // namespace mub
