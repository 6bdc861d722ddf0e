// The owner's side of a SerialChannel, the same on every system: the open
// session, sessions closed from their own listener thread, a session closed
// by a failed step, the port name, the error handler, and the locking around
// each operation. Internal to the serial library.
//
// `System` derives from ChannelOwner and provides
//   void stopListener(Session&)            ends the listener's waits (no joining)
//   void release(std::shared_ptr<Session>) stops, joins and closes a session;
//                                          parkIfOwnListener first.
// A Session has `listening`, `stopRequested` (atomic<bool>) and `thread`.
#pragma once

#include "platform/gbk_text.h"
#include "serial/serial_channel.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace mub {

// The rates a port can be given; any other rate gives 9600.
inline constexpr std::int32_t supportedSerialRates[] = {110,   150,   300,   600,   1200,   1800,
                                                        2400,  4800,  7200,  9600,  14400,  19200,
                                                        38400, 56000, 57600, 115200, 128000, 256000};

inline bool isSupportedSerialRate(std::int32_t rate) {
    return std::find(std::begin(supportedSerialRates), std::end(supportedSerialRates), rate) !=
           std::end(supportedSerialRates);
}

// "COM3,57600,N,1,8": name, rate, parity letter (0 none .. 4 space), stop
// bits (0 one, 1 one and a half, 2 two), data bits.
inline std::string serialSettingsText(const std::string& portName, long baudRate, int parity, int stopBits,
                                      int dataBits) {
    static const char parityLetters[] = {'N', 'O', 'E', 'M', 'S'};
    std::string text = portName + "," + std::to_string(baudRate) + ",";
    text += parityLetters[parity >= 0 && parity <= 4 ? parity : 0];
    text += stopBits == 2 ? ",2" : stopBits == 1 ? ",1.5" : ",1";
    return text + "," + std::to_string(dataBits);
}

template <typename Session, typename System> class ChannelOwner {
public:
    // Serialises the owner's operations. Recursive so an onError handler may
    // call back into the channel.
    std::recursive_mutex opLock;
    std::shared_ptr<Session> session; // set while a port is open
    SerialErrorHandler onError;       // kept after close: later misuse is still reported

    void setName(std::string name) {
        std::lock_guard<std::mutex> guard(nameLock_);
        portName_ = std::move(name);
    }
    std::string name() const {
        std::lock_guard<std::mutex> guard(nameLock_);
        return portName_;
    }
    void raise(const std::string& text) {
        if (onError) onError(text);
    }
    // prefix + " 错误ID：" + code + two spaces + the system's message.
    void raiseCode(const char* prefixUtf8, unsigned long code, const std::string& systemMessage) {
        raise(gbk(prefixUtf8) + gbk(" 错误ID：") + std::to_string(code) + "  " + systemMessage);
    }
    // A listener that closed its own channel from a handler still runs.
    bool listenerStillRunning() const { return !orphans_.empty(); }

    // Keeps a session whose listener is the calling thread (a handler closed
    // the channel) for a later operation on another thread to join.
    bool parkIfOwnListener(std::shared_ptr<Session>& s) {
        if (!s->thread.joinable() || s->thread.get_id() != std::this_thread::get_id()) return false;
        std::lock_guard<std::recursive_mutex> guard(opLock);
        orphans_.push_back(std::move(s));
        return true;
    }

    // Closes the port after a failed step (the listener has not started, or
    // configure failed on a listening channel). The listener is told to stop
    // at once; waiting for it happens in releasePending, outside opLock.
    void closeAfterFailure() {
        if (!session) return;
        session->listening.store(false);
        session->stopRequested.store(true);
        system().stopListener(*session);
        pendingRelease_ = std::move(session);
        setName({});
    }

    // Runs an operation under opLock, then releases what a failed step
    // closed. Sessions parked by their own listener are joined first when
    // `reap` is set.
    template <typename Operation> bool run(Operation operation, bool reap = false) {
        if (reap) reapOrphans();
        bool ok;
        {
            std::lock_guard<std::recursive_mutex> guard(opLock);
            ok = operation();
        }
        std::shared_ptr<Session> s;
        {
            std::lock_guard<std::recursive_mutex> guard(opLock);
            s = std::move(pendingRelease_);
        }
        if (s) system().release(std::move(s));
        return ok;
    }

    // Takes the open session out and releases it without holding opLock, so
    // handlers that call the channel cannot deadlock against the close.
    void closeSession() {
        std::shared_ptr<Session> s;
        {
            std::lock_guard<std::recursive_mutex> guard(opLock);
            s = std::move(session);
            if (!s) return;
            setName({});
        }
        system().release(std::move(s));
    }

    void reapOrphans() {
        std::vector<std::shared_ptr<Session>> done;
        {
            std::lock_guard<std::recursive_mutex> guard(opLock);
            for (auto it = orphans_.begin(); it != orphans_.end();) {
                if ((*it)->thread.get_id() != std::this_thread::get_id()) {
                    done.push_back(std::move(*it));
                    it = orphans_.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (auto& s : done) system().release(std::move(s));
    }

private:
    System& system() { return static_cast<System&>(*this); }

    std::vector<std::shared_ptr<Session>> orphans_;
    std::shared_ptr<Session> pendingRelease_;
    mutable std::mutex nameLock_;
    std::string portName_;
};

} // namespace mub
