// The serial channel over drivers that misbehave: unplugged adapters,
// cancels that never complete, aborts after a line error, reads that bring
// nothing, emulators that end every event wait. Every case ends within its
// bound (the limits here only catch a hang), nothing a driver still holds
// is freed, and the channel goes on where it can. Runs on every system.
#include "serial/serial_channel.h"

#include "platform/gbk_text.h"
#include "tests/serial/channel_recorder.h"
#include "tests/support/faulty_serial_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace mub {
namespace {

using test::ChannelRecorder;
using test::FaultySerialPort;
using Clock = std::chrono::steady_clock;

constexpr auto hang = std::chrono::seconds(5); // far beyond every bound: only a hang exceeds it

Clock::duration timed(const std::function<void()>& step) {
    const auto start = Clock::now();
    step();
    return Clock::now() - start;
}

std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

void idle(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class SerialFaults : public ::testing::Test {
protected:
    bool openChannel(SerialSettings settings = {}) {
        if (settings.baudRate == 0) settings.baudRate = 9600;
        return channel.open(1, settings, rec.dataHandler(), rec.notifyHandler(), rec.statusHandler(),
                            rec.errorHandler());
    }
    // Operations the driver saw in `ms` of doing nothing: a listener that
    // pauses makes a few, one that spins thousands.
    int operationsWhileIdle(int ms) {
        const int before = device.eventWaits() + device.reads();
        idle(ms);
        return device.eventWaits() + device.reads() - before;
    }

    FaultySerialPort device;
    ChannelRecorder rec;
    SerialChannel channel{PortTable(), device};
};

struct UnpluggedAdapter : SerialFaults, ::testing::WithParamInterface<int> {};

TEST_P(UnpluggedAdapter, PendingTransfersFailAndTheListenerPauses) {
    ASSERT_TRUE(openChannel());
    device.arrive(bytesOf("a"));
    ASSERT_TRUE(rec.waitForBytes(1));

    device.pendingIoError = GetParam();
    const std::uint8_t probe = 0x7F;
    std::int32_t written = -1;
    EXPECT_FALSE(channel.send(&probe, 1, &written));
    EXPECT_EQ(written, 0);
    EXPECT_EQ(rec.errors(), std::vector<std::string>{gbk("发送串口错误，实际发送：0 字节。")});
    EXPECT_LT(operationsWhileIdle(300), 60);

    EXPECT_LT(timed([&] { channel.close(); }), hang);
    EXPECT_EQ(device.closes(), 1);
    EXPECT_EQ(device.freedWhilePending(), 0);
}

INSTANTIATE_TEST_SUITE_P(SerialFaults, UnpluggedAdapter,
                         ::testing::Values(FaultySerialPort::AccessDenied, FaultySerialPort::BadCommand,
                                           FaultySerialPort::Aborted));

TEST_F(SerialFaults, WaitsAndReadsTheDriverKeepsAreLeftToIt) {
    device.cancelIgnored = true;
    ASSERT_TRUE(openChannel());
    ASSERT_TRUE(FaultySerialPort::waitFor([&] { return device.eventWaits() >= 1; }, 2000));
    const std::size_t parked = abandonedSerialOperations();
    EXPECT_LT(timed([&] { channel.close(); }), hang);
    EXPECT_EQ(abandonedSerialOperations(), parked + 1); // the event wait
    EXPECT_EQ(device.closes(), 1);

    // A read of queued bytes that never completes: given up, and close
    // still ends in time.
    device.readsStayPending = true;
    ASSERT_TRUE(openChannel());
    device.arrive(bytesOf("abc"));
    ASSERT_TRUE(FaultySerialPort::waitFor([&] { return abandonedSerialOperations() >= parked + 2; }, 3000));
    EXPECT_LT(timed([&] { channel.close(); }), hang);
    EXPECT_EQ(device.closes(), 2);
    EXPECT_TRUE(rec.bytes().empty());
    EXPECT_EQ(device.freedWhilePending(), 0);
}

TEST_F(SerialFaults, WriteTheDriverNeverEndsIsGivenUp) {
    SerialSettings settings;
    settings.writeTotalTimeoutConstant = 1000000; // a driver that would wait for ever
    ASSERT_TRUE(openChannel(settings));
    device.lineCapacity = 0;
    device.cancelIgnored = true;
    const std::size_t parked = abandonedSerialOperations();
    const std::uint8_t probe = 0x7F;
    bool sent = true;
    EXPECT_LT(timed([&] { sent = channel.send(&probe, 1); }), hang);
    EXPECT_FALSE(sent);
    EXPECT_EQ(abandonedSerialOperations(), parked + 1);
    EXPECT_EQ(rec.errors(), std::vector<std::string>{gbk("发送串口错误，实际发送：0 字节。")});
}

TEST_F(SerialFaults, StalledWriteReportsWhatWentOut) {
    SerialSettings settings;
    settings.writeTotalTimeoutMultiplier = 1; // 20 bytes: 1 * 20 + 10 ms
    settings.writeTotalTimeoutConstant = 10;
    ASSERT_TRUE(openChannel(settings));
    device.lineCapacity = 12;
    std::vector<std::uint8_t> bytes(20, 0x55);
    std::int32_t written = -1;
    EXPECT_TRUE(channel.send(bytes.data(), 20, &written)); // some bytes went out
    EXPECT_EQ(written, 12);
    EXPECT_EQ(device.sent().size(), 12u);
    EXPECT_EQ(rec.errors(), std::vector<std::string>{gbk("发送串口错误，实际发送：12 字节。")});

    // Nothing at all goes out: false, and the same report with 0.
    rec.clearErrors();
    EXPECT_FALSE(channel.send(bytes.data(), 20, &written));
    EXPECT_EQ(written, 0);
    EXPECT_EQ(rec.errors(), std::vector<std::string>{gbk("发送串口错误，实际发送：0 字节。")});
}

// With abort-on-error the driver fails every transfer after a line error
// until the error is read: the channel reads (clears) it, counts it, and
// the transfer goes on.
TEST_F(SerialFaults, LineErrorIsClearedCountedAndTheTransferGoesOn) {
    ASSERT_TRUE(openChannel());
    device.lineCapacity = 0; // the write waits on the line ...
    std::thread line([&] {
        FaultySerialPort::waitFor([&] { return device.writesPending() == 1; }, 2000);
        device.lineCapacity = 1000;
        device.lineError(ErrorFraming); // ... and is aborted by the error
    });
    const std::vector<std::uint8_t> request = bytesOf("MP");
    std::int32_t written = 0;
    EXPECT_TRUE(channel.send(request.data(), 2, &written));
    line.join();
    EXPECT_EQ(written, 2);
    EXPECT_EQ(device.sent(), request);

    device.arrive(bytesOf("ok"));
    ASSERT_TRUE(rec.waitForBytes(2));
    EXPECT_EQ(rec.waitForErrorBits(), ErrorFraming);
    EXPECT_TRUE(FaultySerialPort::waitFor([&] { return channel.lineErrors() == 1; }, 2000));
    EXPECT_TRUE(rec.errors().empty());
}

TEST_F(SerialFaults, ReadsThatBringNothingDoNotSpin) {
    device.readsReturnNothing = true;
    ASSERT_TRUE(openChannel());
    device.arrive(bytesOf("abc"));
    EXPECT_LT(operationsWhileIdle(300), 60);
    EXPECT_LT(timed([&] { channel.close(); }), hang);
    EXPECT_TRUE(rec.bytes().empty());
}

// An emulator's driver refuses modem-line events and ends every other wait
// at once: reads wait for input instead. Its purge leaves such a read
// pending: the byte that completes it after the purge is the answer to the
// next request, and is kept.
TEST_F(SerialFaults, DriverThatCannotWaitForEventsIsReadInstead) {
    device.waitsEndAborted = true;
    device.modemEventsRefused = true;
    device.purgeLeavesReads = true;
    ASSERT_TRUE(openChannel());
    // Without input, a read is only started to wait for it.
    ASSERT_TRUE(FaultySerialPort::waitFor([&] { return device.reads() >= 1; }, 2000));
    const int waits = device.eventWaits();
    device.arrive(bytesOf("QMTV"));
    ASSERT_TRUE(rec.waitForBytes(4));
    EXPECT_EQ(rec.bytes(), bytesOf("QMTV"));
    idle(100);
    EXPECT_EQ(device.eventWaits(), waits);

    EXPECT_TRUE(channel.purge(true, true));
    device.arrive(bytesOf("Z"));
    ASSERT_TRUE(rec.waitForBytes(5));
    EXPECT_EQ(rec.bytes(), bytesOf("QMTVZ"));
}

// A driver that ends one wait by itself is no reason to stop waiting for
// events: no read is started without input.
TEST_F(SerialFaults, AWaitEndedOnceKeepsTheEventWait) {
    ASSERT_TRUE(openChannel());
    ASSERT_TRUE(FaultySerialPort::waitFor([&] { return device.eventWaits() >= 1; }, 2000));
    device.abortPendingWait();
    ASSERT_TRUE(FaultySerialPort::waitFor([&] { return device.eventWaits() >= 2; }, 2000));
    idle(50);
    EXPECT_EQ(device.reads(), 0);
    device.arrive(bytesOf("ab"));
    ASSERT_TRUE(rec.waitForBytes(2));
    EXPECT_EQ(device.reads(), 1);
}

// A purge before every block need not reach the driver while the listener
// waits after finding both queues empty and nothing has come since; once a
// byte has come (even one the listener has not yet taken), it does, and the
// byte is discarded.
TEST_F(SerialFaults, PurgeGoesToTheDriverOnlyWhenSomethingMayBeQueued) {
    device.tellsQuiet = true;
    ASSERT_TRUE(openChannel());
    const auto waiting = [&] { return FaultySerialPort::waitFor([&] { return device.finishesWaiting() == 1; }, 2000); };
    ASSERT_TRUE(waiting());
    const int purges = device.purges();
    EXPECT_TRUE(channel.purge(true, true));
    EXPECT_EQ(device.purges(), purges);

    device.arrive(bytesOf("ab"));
    ASSERT_TRUE(rec.waitForBytes(2));
    ASSERT_TRUE(waiting());
    EXPECT_TRUE(channel.purge(true, true));
    EXPECT_EQ(device.purges(), purges);

    device.holdFinishes(true);
    device.arrive(bytesOf("cd"));
    EXPECT_TRUE(channel.purge(true, true));
    EXPECT_EQ(device.purges(), purges + 1);
    device.holdFinishes(false);
    idle(100);
    EXPECT_EQ(rec.bytes(), bytesOf("ab"));
}

// The owner that a delivery wakes purges before its next request within
// microseconds, before the listener is back in its wait: the listener looks
// at the port again before the handler runs, so a purge from the handler
// itself (the earliest there can be) need not reach the driver either.
TEST_F(SerialFaults, APurgeAsTheBytesAreHandedOverSkipsTheDriver) {
    device.tellsQuiet = true;
    std::atomic<int> handedOver{0};
    std::atomic<bool> purgedInHandler{false};
    SerialSettings settings;
    settings.baudRate = 9600;
    ASSERT_TRUE(channel.open(
        1, settings,
        [&](const std::uint8_t*, std::int32_t) {
            purgedInHandler = channel.purge(true, true);
            ++handedOver;
        },
        rec.notifyHandler(), rec.statusHandler(), rec.errorHandler()));
    ASSERT_TRUE(FaultySerialPort::waitFor([&] { return device.finishesWaiting() == 1; }, 2000));
    const int purges = device.purges();
    device.arrive(bytesOf("ab"));
    ASSERT_TRUE(FaultySerialPort::waitFor([&] { return handedOver.load() == 1; }, 2000));
    EXPECT_TRUE(purgedInHandler.load());
    EXPECT_EQ(device.purges(), purges);
}

} // namespace
} // namespace mub
