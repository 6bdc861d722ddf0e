// The listener thread: how received bytes are delivered, purged and
// notified, and that nothing is delivered once close has returned.
#include "serial/serial_channel.h"

#include "serial/serial_codes.h"
#include "tests/serial/channel_recorder.h"
#include "tests/serial/pty_pair.h"
#include "tests/serial/scripted_serial_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace mub {
namespace {

using test::ChannelRecorder;
using test::PtyPair;

constexpr int listenerPort = 9;

// Waits up to 2 s for `done` to hold, so a fault fails the test instead of
// hanging it.
template <typename Done> bool eventually(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Holds the listener inside its first onData call until released, so bytes
// can pile up in the input queue meanwhile.
class GatedReceiver {
public:
    SerialDataHandler handler(SerialChannel* purgeOnRelease = nullptr) {
        return [this, purgeOnRelease](const std::uint8_t* bytes, std::int32_t count) {
            if (count <= 0) return;
            std::unique_lock<std::mutex> guard(lock_);
            chunks_.emplace_back(bytes, bytes + count);
            if (chunks_.size() == 1) {
                changed_.notify_all();
                changed_.wait(guard, [&] { return released_; });
                if (purgeOnRelease) purgeOnRelease->purge(true, true);
                firstDone_ = true;
            }
            changed_.notify_all();
        };
    }
    void waitForFirstCall() {
        std::unique_lock<std::mutex> guard(lock_);
        ASSERT_TRUE(changed_.wait_for(guard, std::chrono::seconds(2), [&] { return !chunks_.empty(); }));
    }
    // Lets the first call finish and waits until it has.
    void release() {
        std::unique_lock<std::mutex> guard(lock_);
        released_ = true;
        changed_.notify_all();
        ASSERT_TRUE(changed_.wait_for(guard, std::chrono::seconds(2), [&] { return firstDone_; }));
    }
    bool waitForChunks(std::size_t n) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(2), [&] { return chunks_.size() >= n; });
    }
    std::vector<std::vector<std::uint8_t>> chunks() {
        std::lock_guard<std::mutex> guard(lock_);
        return chunks_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool released_ = false;
    bool firstDone_ = false;
    std::vector<std::vector<std::uint8_t>> chunks_;
};

// Lets the kernel move bytes written to the pty master into the terminal's
// input queue.
void letTheTerminalTakeThem() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

class SerialListenerTest : public ::testing::Test {
protected:
    SerialListenerTest() { channel.ports().setOverride(listenerPort, pty.devicePath()); }

    PtyPair pty;
    ChannelRecorder rec;
    SerialChannel channel;
    SerialSettings settings;
};

TEST_F(SerialListenerTest, EverythingWaitingArrivesInOneCall) {
    GatedReceiver gate;
    ASSERT_TRUE(channel.open(listenerPort, settings, gate.handler(), rec.notifyHandler()));
    pty.write("A");
    gate.waitForFirstCall();
    std::vector<std::uint8_t> burst(3000);
    for (std::size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<std::uint8_t>(i % 251);
    pty.write(burst);
    letTheTerminalTakeThem();
    gate.release();
    ASSERT_TRUE(gate.waitForChunks(2));
    auto chunks = gate.chunks();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0], std::vector<std::uint8_t>{'A'});
    EXPECT_EQ(chunks[1], burst);
}

TEST_F(SerialListenerTest, PurgeDropsWhatWaitsInTheInputQueue) {
    GatedReceiver gate;
    ASSERT_TRUE(channel.open(listenerPort, settings, gate.handler(&channel)));
    pty.write("A");
    gate.waitForFirstCall();
    pty.write("stale bytes");
    letTheTerminalTakeThem();
    gate.release(); // the handler purges both queues before it returns
    pty.write("Z");
    ASSERT_TRUE(gate.waitForChunks(2));
    letTheTerminalTakeThem();
    auto chunks = gate.chunks();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[1], std::vector<std::uint8_t>{'Z'});
    EXPECT_FALSE(channel.purge(false, false)); // nothing asked
    EXPECT_TRUE(channel.purge(true, false));
    EXPECT_TRUE(channel.purge(false, true));
}

TEST_F(SerialListenerTest, PurgeUnderALockTheDataHandlerWaitsForDoesNotHang) {
    // The owner keeps received bytes under its own lock and purges while
    // holding it; the listener is meanwhile inside onData, waiting for it.
    std::mutex ownerLock;
    std::atomic<bool> inHandler{false};
    std::vector<std::uint8_t> kept;
    auto onData = [&](const std::uint8_t* bytes, std::int32_t count) {
        inHandler = true;
        std::lock_guard<std::mutex> guard(ownerLock);
        kept.insert(kept.end(), bytes, bytes + count);
    };
    ASSERT_TRUE(channel.open(listenerPort, settings, onData));
    {
        std::lock_guard<std::mutex> guard(ownerLock);
        pty.write("A");
        ASSERT_TRUE(eventually([&] { return inHandler.load(); }));
        EXPECT_TRUE(channel.purge(true, true)); // returns although onData cannot finish yet
    }
    channel.close();
    EXPECT_EQ(kept, std::vector<std::uint8_t>{'A'});
}

TEST_F(SerialListenerTest, NearlyFullInputAndFlagCharacterAreNotified) {
    settings.inputQueueSize = 100;
    settings.eventChar = '#';
    GatedReceiver gate;
    ASSERT_TRUE(channel.open(listenerPort, settings, gate.handler(), rec.notifyHandler()));
    pty.write("A");
    gate.waitForFirstCall();
    pty.write(std::string(79, 'x') + "#" + std::string(10, 'y')); // 90 of 100 bytes
    letTheTerminalTakeThem();
    gate.release();
    ASSERT_TRUE(gate.waitForChunks(2));
    auto codes = rec.waitForNotifications(2);
    auto flag = std::find(codes.begin(), codes.end(), NotifyFlagChar);
    auto full = std::find(codes.begin(), codes.end(), NotifyInputNearlyFull);
    ASSERT_NE(flag, codes.end());
    ASSERT_NE(full, codes.end());
    EXPECT_LT(flag, full); // raised in the fixed order
}

TEST_F(SerialListenerTest, ZeroBytesAreDiscardedOnlyWhenAsked) {
    settings.useFlowControl = 1;
    settings.discardNull = 1;
    ASSERT_TRUE(channel.open(listenerPort, settings, rec.dataHandler()));
    pty.write(std::vector<std::uint8_t>{0, 'a', 0, 'b', 0});
    ASSERT_TRUE(rec.waitForBytes(2));
    letTheTerminalTakeThem();
    EXPECT_EQ(rec.bytes(), (std::vector<std::uint8_t>{'a', 'b'}));

    // Without flow control the field counts as 0: zero bytes are data.
    channel.close();
    ChannelRecorder plain;
    settings.useFlowControl = 0;
    ASSERT_TRUE(channel.open(listenerPort, settings, plain.dataHandler()));
    pty.write(std::vector<std::uint8_t>{0, 'a', 0});
    ASSERT_TRUE(plain.waitForBytes(3));
    EXPECT_EQ(plain.bytes(), (std::vector<std::uint8_t>{0, 'a', 0}));
}

TEST_F(SerialListenerTest, SentBytesRaiseOutputEmpty) {
    ASSERT_TRUE(channel.open(listenerPort, settings, rec.dataHandler(), rec.notifyHandler()));
    std::uint8_t probe = 0x7F;
    ASSERT_TRUE(channel.send(&probe, 1));
    EXPECT_EQ(rec.waitForNotifications(1), std::vector<std::int32_t>{NotifyOutputEmpty});
    EXPECT_EQ(pty.read(1), std::vector<std::uint8_t>{0x7F});
}

// Keeps writing into the pty master until stopped, as a machine that talks
// without pause.
class Chatter {
public:
    explicit Chatter(int master) : thread_([this, master] {
        std::uint8_t block[512];
        for (std::size_t i = 0; i < sizeof block; ++i) block[i] = static_cast<std::uint8_t>(i);
        while (!stop_.load()) {
            if (::write(master, block, sizeof block) < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }) {}
    ~Chatter() {
        stop_.store(true);
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(SerialListenerTest, NoHandlerRunsOnceCloseHasReturned) {
    std::atomic<bool> closed{false};
    std::atomic<int> late{0};
    std::atomic<long> received{0};
    auto onData = [&](const std::uint8_t*, std::int32_t count) {
        if (closed.load()) ++late;
        received += count;
        std::this_thread::sleep_for(std::chrono::milliseconds(1)); // a handler that takes its time
    };
    auto onNotify = [&](std::int32_t) { if (closed.load()) ++late; };
    auto onStatus = [&](std::int32_t, std::int32_t, std::int32_t, std::int32_t) { if (closed.load()) ++late; };
    Chatter chatter(pty.master());
    for (int round = 0; round < 5; ++round) {
        closed = false;
        received = 0;
        ASSERT_TRUE(channel.open(listenerPort, settings, onData, onNotify, onStatus));
        ASSERT_TRUE(eventually([&] { return received.load() != 0; }));
        channel.close(); // data still flowing: close must end the listener anyway
        closed = true;
        EXPECT_FALSE(channel.isOpen());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(late.load(), 0);
}

TEST_F(SerialListenerTest, UnpluggedPortIsWatchedWithPausesNotASpin) {
    test::ScriptedSerialPort services;
    SerialChannel unplugged(channel.ports(), services);
    ASSERT_TRUE(unplugged.open(listenerPort, settings, rec.dataHandler()));
    pty.hangUp();
    // A hung-up terminal ends every wait at once (and calls itself readable
    // although nothing can be read): each such wait must be followed by a
    // pause, or the listener burns a core until the port is closed.
    for (int i = 0; i < 500 && services.hungUpWaits.load() < 10; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    unplugged.close();
    const int hungUp = services.hungUpWaits.load();
    ASSERT_GE(hungUp, 10);
    EXPECT_GE(services.pauses.load(), hungUp - 1);
    EXPECT_TRUE(rec.bytes().empty());
}

TEST_F(SerialListenerTest, HandlerMayCloseItsOwnChannel) {
    std::atomic<int> calls{0};
    auto onData = [&](const std::uint8_t*, std::int32_t count) {
        if (count > 0 && calls++ == 0) channel.close();
    };
    ASSERT_TRUE(channel.open(listenerPort, settings, onData));
    pty.write("x");
    for (int i = 0; i < 200 && calls.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(calls.load(), 1);
    EXPECT_FALSE(channel.isOpen());
    pty.write("more");
    letTheTerminalTakeThem();
    EXPECT_EQ(calls.load(), 1);
    // The next open from this thread finds the old listener gone and the port free.
    ASSERT_TRUE(channel.open(listenerPort, settings, rec.dataHandler()));
    pty.write("y");
    EXPECT_TRUE(rec.waitForBytes(1));
}

} // namespace
} // namespace mub
