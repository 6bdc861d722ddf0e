#include "link/machine_link.h"

#include "link/bridge_transport.h"
#include "link/serial_transport.h"
#include "platform/linux_serial_port.h"
#include "tests/link/raw_pty.h"
#include "tests/support/fake_ui.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace mub {
namespace {

using test::FakeUi;

// A bridge whose reads hand out scripted chunks: each read takes the next
// chunk, copies what fits and reports the chunk's counter value.
class ScriptedBridge : public BridgeLibrary {
public:
    struct Read {
        Bytes bytes;
        std::uint32_t counter;
    };
    std::deque<Read> reads;
    std::vector<std::uint32_t> readTimeouts, writeTimeouts;
    std::vector<int> readLengths;
    std::vector<Bytes> written;
    std::int64_t writeResult = 0;
    int disconnects = 0;

    std::int64_t connectBridge(BridgeParams&, int) override { return 0; }
    std::int64_t setMode(BridgeParams&, const std::uint8_t*, int) override { return 0; }
    std::int64_t clearDevBuffer(BridgeParams&) override { return 0; }
    std::int64_t writeData(BridgeParams& p, const std::uint8_t* data, int length, std::uint32_t* count) override {
        writeTimeouts.push_back(p.words[3]);
        written.emplace_back(data, data + length);
        *count = static_cast<std::uint32_t>(length);
        return writeResult;
    }
    std::int64_t readData(BridgeParams& p, std::uint8_t* buffer, int length, std::uint32_t* count) override {
        readTimeouts.push_back(p.words[2]);
        readLengths.push_back(length);
        if (reads.empty()) {
            *count = 0;
            return 0;
        }
        Read r = reads.front();
        reads.pop_front();
        std::memcpy(buffer, r.bytes.data(), std::min<std::size_t>(r.bytes.size(), static_cast<std::size_t>(length)));
        *count = r.counter;
        return 0;
    }
    std::int64_t disconnectBridge(BridgeParams&) override {
        ++disconnects;
        return 0;
    }
};

struct UsbLink : ::testing::Test {
    FakeUi ui{FakeUi::Clock::Virtual};
    ScriptedBridge bridge;
    BridgeTransport transport{&bridge};
    MachineLink link{ui, transport};
};

TEST_F(UsbLink, WriteSetsTimeoutAndKeepsLowWordOfResult) {
    bridge.writeResult = 0x1E0000003LL;
    EXPECT_EQ(link.writePacket(Bytes{1, 2, 3}), StatusNoDevice);
    bridge.writeResult = 0;
    EXPECT_EQ(link.writePacket(Bytes(133, 0)), StatusOk);
    EXPECT_EQ(bridge.writeTimeouts, (std::vector<std::uint32_t>{60, 2660}));
    EXPECT_EQ(bridge.written[0], (Bytes{1, 2, 3}));
}

TEST_F(UsbLink, RawReadTakesTheSignedLow16BitsOfTheCounter) {
    bridge.reads = {{{'Q', 'M', 'T', 'V'}, 2},
                    {{'Q', 'M', 'T', 'V'}, 0x0001FFFF}, // -1 in the low 16 bits
                    {{'Q', 'M', 'T', 'V'}, 0x00010004}, // 4 in the low 16 bits
                    {{'Q', 'M', 'T', 'V'}, 9}};         // more than asked: the whole buffer
    EXPECT_EQ(link.readPacket(4, true), (Bytes{'Q', 'M'}));
    EXPECT_TRUE(link.readPacket(4, true).empty());
    EXPECT_EQ(link.readPacket(4, true), (Bytes{'Q', 'M', 'T', 'V'}));
    EXPECT_EQ(link.readPacket(4, true), (Bytes{'Q', 'M', 'T', 'V'}));
    EXPECT_EQ(bridge.readTimeouts.front(), 80u);
}

TEST_F(UsbLink, FramedReadWithShortHeaderIsEmptyAndReadsNoBody) {
    bridge.reads = {{{0x01, 0xA5}, 2}};
    EXPECT_TRUE(link.readPacket(0, false).empty());
    EXPECT_EQ(bridge.readLengths, (std::vector<int>{3}));
    EXPECT_EQ(bridge.readTimeouts, (std::vector<std::uint32_t>{60}));
}

TEST_F(UsbLink, FramedReadReturnsHeaderAndZeroFilledBody) {
    // Header says 3 payload bytes; only 2 body bytes come.
    bridge.reads = {{{0x01, 0xA5, 0x03}, 3}, {{'a', 'b'}, 2}};
    Bytes reply = link.readPacket(0, false);
    EXPECT_EQ(reply, (Bytes{0x01, 0xA5, 0x03, 'a', 'b', 0, 0, 0}));
    EXPECT_EQ(bridge.readLengths, (std::vector<int>{3, 5}));
    EXPECT_EQ(bridge.readTimeouts, (std::vector<std::uint32_t>{60, 100}));
}

TEST_F(UsbLink, CloseTransportDisconnectsEveryTime) {
    link.closeTransport();
    link.closeTransport();
    EXPECT_EQ(bridge.disconnects, 2);
}

struct ComLink : ::testing::Test {
    FakeUi ui{FakeUi::Clock::Virtual};
    SerialTransport transport{ui, PortTable()};
    MachineLink link{ui, transport};
    void deliver(const Bytes& bytes) { transport.onSerialData(bytes.data(), static_cast<std::int32_t>(bytes.size())); }
};

TEST_F(ComLink, RawReadReturnsEverythingThatArrived) {
    deliver({1, 2, 3, 4, 5, 6});
    EXPECT_EQ(link.readPacket(4, true), (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(ui.virtualMicros(), 0); // the bytes were there: no wait
    EXPECT_TRUE(link.readPacket(4, true).empty());
}

TEST_F(ComLink, LineReadEndsAtCrLfAndKeepsIt) {
    deliver({'o', 'k', 0x0D, 0x0A});
    EXPECT_EQ(link.readPacket(0, false), (Bytes{'o', 'k', 0x0D, 0x0A}));
    EXPECT_EQ(ui.virtualMicros(), 0);
}

TEST_F(ComLink, GivesUpAfter21MillisecondsWithNothingNewInOneWait) {
    int waits = 0;
    ui.onPump = [&] { ++waits; };
    EXPECT_TRUE(link.readPacket(4, true).empty());
    EXPECT_EQ(ui.virtualMicros(), 21000);
    EXPECT_EQ(waits, 1); // not a wait per millisecond
}

TEST_F(ComLink, BytesArrivingDuringTheReadRestartTheSilence) {
    // A byte 10 ms into the read ends that wait at once; 21 ms of silence
    // after it end the read.
    int waits = 0;
    ui.onPump = [&] {
        if (++waits != 1) return;
        ui.letTimePass(10000);
        deliver({0x43});
    };
    EXPECT_EQ(link.readPacket(4, true), (Bytes{0x43}));
    EXPECT_EQ(ui.virtualMicros(), 31000);
    EXPECT_EQ(waits, 2);
}

TEST_F(ComLink, AMachineThatKeepsStreamingHoldsNoReadAndFillsNoMemory) {
    // Bytes on every pass and never a line end: a framed read ends once it
    // holds more than the longest frame.
    ui.onPump = [&] { deliver(Bytes(64, 0x55)); };
    const std::size_t framed = link.readPacket(0, false).size();
    EXPECT_GT(framed, 260u);
    EXPECT_LE(framed, 260u + 64u);
    // A read for a running operation ends as soon as Stop clears the flag.
    link.running = true;
    int pass = 0;
    ui.onPump = [&] {
        deliver({0x55});
        if (++pass == 3) link.running = false;
    };
    EXPECT_EQ(link.readPacket(0, false).size(), 3u);
    // While nobody reads, only the newest bytes are kept.
    ui.onPump = nullptr;
    for (int i = 0; i < 1000; ++i) deliver(Bytes(100, static_cast<std::uint8_t>(i)));
    const Bytes kept = link.readPacket(1, true);
    EXPECT_EQ(kept.size(), 4096u);
    EXPECT_EQ(kept.front(), static_cast<std::uint8_t>(959));
    EXPECT_EQ(kept.back(), static_cast<std::uint8_t>(999));
}

TEST_F(ComLink, StatusAndErrorHandlersSetLinkStatus) {
    transport.onSerialStatus(0, 5, 0, 0);
    EXPECT_EQ(link.linkStatus(), StatusOk);
    transport.onSerialStatus(0, 0, 8, 0);
    EXPECT_EQ(link.linkStatus(), 8u);
    transport.onSerialError("x");
    EXPECT_EQ(link.linkStatus(), StatusNoDevice);
}

TEST_F(ComLink, ReadEmptiesBufferFilledFromAnotherThread) {
    std::thread feeder([&] {
        for (int i = 0; i < 200; ++i) {
            deliver({static_cast<std::uint8_t>(i)});
            std::this_thread::yield();
        }
    });
    std::size_t total = 0;
    for (int i = 0; i < 50; ++i) total += link.readPacket(1, true).size();
    feeder.join();
    total += link.readPacket(1000, true).size();
    EXPECT_EQ(total, 200u); // nothing lost or doubled
}

TEST(ComLinkOverPty, ReplyArrivingAsAReadEndsReachesTheNextRead) {
    test::RawPty peer; // the machine, opened as COM5
    PortTable ports;
    ports.setOverride(5, peer.path);
    FakeUi ui(FakeUi::Clock::Real);
    SerialTransport transport(ui, ports);
    MachineLink link(ui, transport);
    SerialSettings settings;
    settings.baudRate = 115200;
    ASSERT_TRUE(transport.channel().open(5, settings, [&](const std::uint8_t* bytes, std::int32_t count) {
        transport.onSerialData(bytes, count);
    }));

    // The machine answers every request with "C" and, a moment later, the
    // acknowledgement 0x06. The moment sweeps from 0 to 0.3 ms, so over the
    // exchanges the acknowledgement lands right as the tool's read of "C"
    // ends: it must then come with the next read, never be thrown away.
    constexpr int exchanges = 300;
    std::thread machine([&] {
        for (int i = 0; i < exchanges; ++i) {
            std::uint8_t request = 0;
            if (::read(peer.master, &request, 1) != 1) return;
            peer.send('C');
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds((i % 30) * 10);
            while (std::chrono::steady_clock::now() < until) {
            }
            peer.send(0x06);
        }
    });
    int lost = 0;
    for (int i = 0; i < exchanges; ++i) {
        ASSERT_EQ(link.writePacket(Bytes{0x5E}), StatusOk);
        // Reads go on until both bytes came: a machine thread that the
        // system keeps waiting longer than one read's patience does not
        // count as a loss, a byte thrown away does.
        Bytes got;
        for (int read = 0; read < 50 && got.size() < 2; ++read) {
            Bytes more = link.readPacket(1, true);
            got.insert(got.end(), more.begin(), more.end());
        }
        if (got != (Bytes{'C', 0x06})) ++lost;
    }
    machine.join();
    EXPECT_EQ(lost, 0);
    link.closeTransport();
}

TEST(ComLinkOverPty, ReplyWaitingInThePortWhenAReadEndsReachesTheNextRead) {
    test::RawPty peer; // the machine, opened as COM5
    PortTable ports;
    ports.setOverride(5, peer.path);
    FakeUi ui(FakeUi::Clock::Virtual);
    SerialTransport transport(ui, ports);
    MachineLink link(ui, transport);

    // The machine sends "C" and the acknowledgement right after it; the
    // listener hands "C" over and is then held until the read of "C" has
    // ended, so the acknowledgement waits in the port's input queue at the
    // very moment the read ends.
    std::mutex lock;
    std::condition_variable changed;
    int entered = 0, delivered = 0;
    bool readDone = false;
    auto onData = [&](const std::uint8_t* bytes, std::int32_t count) {
        if (count <= 0) return;
        bool first = false;
        {
            std::lock_guard<std::mutex> guard(lock);
            first = entered++ == 0;
        }
        if (first) peer.send(0x06);
        transport.onSerialData(bytes, count);
        std::unique_lock<std::mutex> guard(lock);
        ++delivered;
        changed.notify_all();
        if (first) changed.wait_for(guard, std::chrono::seconds(5), [&] { return readDone; });
    };
    ASSERT_TRUE(transport.channel().open(5, SerialSettings{}, onData));
    ui.onPump = [&] {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait_for(guard, std::chrono::seconds(5), [&] { return delivered > 0; });
    };
    peer.send('C');
    EXPECT_EQ(link.readPacket(1, true), Bytes{'C'});
    {
        std::lock_guard<std::mutex> guard(lock);
        readDone = true;
    }
    changed.notify_all();
    {
        std::unique_lock<std::mutex> guard(lock);
        EXPECT_TRUE(changed.wait_for(guard, std::chrono::seconds(5), [&] { return delivered >= 2; }))
            << "the acknowledgement was thrown away";
    }
    EXPECT_EQ(link.readPacket(1, true), Bytes{0x06});
    link.closeTransport();
}

TEST(ComLinkOverPty, LinkGoingAwayClosesTheChannelThatReportsToIt) {
    test::RawPty peer; // the machine, opened as COM5
    PortTable ports;
    ports.setOverride(5, peer.path);
    FakeUi ui(FakeUi::Clock::Virtual);
    SerialTransport transport(ui, ports);
    {
        MachineLink link(ui, transport);
        ASSERT_TRUE(transport.channel().open(5, SerialSettings{}, [&](const std::uint8_t* bytes, std::int32_t count) {
            transport.onSerialData(bytes, count);
        }));
    }
    // The listener would otherwise deliver the next bytes to a run that is gone.
    EXPECT_FALSE(transport.channel().isOpen());
}

// Serial services that tell when the port's queues were discarded.
class FlushWatch : public LinuxSerialPort {
public:
    int purge(SerialHandle port, bool output, bool input) override {
        const int e = LinuxSerialPort::purge(port, output, input);
        {
            std::lock_guard<std::mutex> guard(lock);
            ++flushes;
        }
        changed.notify_all();
        return e;
    }
    // Never known quiet: every purge reaches the driver, where it is seen.
    bool inputQuiet(SerialHandle, SerialIo&) override { return false; }
    std::mutex lock;
    std::condition_variable changed;
    int flushes = 0;
};

TEST(ComLinkOverPty, BytesOfAnEarlierExchangeDeliveredDuringThePurgeAreDropped) {
    test::RawPty peer; // the machine, opened as COM5
    PortTable ports;
    ports.setOverride(5, peer.path);
    FlushWatch services;
    FakeUi ui(FakeUi::Clock::Virtual);
    SerialTransport transport(ui, ports, services);
    MachineLink link(ui, transport);

    // The listener has read a late reply of the earlier exchange and is
    // handing it over just as the next request purges the port.
    int flushesAtOpen = 0;
    bool delivering = false;
    auto onData = [&](const std::uint8_t* bytes, std::int32_t count) {
        if (count <= 0) return;
        {
            std::unique_lock<std::mutex> guard(services.lock);
            delivering = true;
            services.changed.notify_all();
            services.changed.wait_for(guard, std::chrono::seconds(5),
                                      [&] { return services.flushes > flushesAtOpen; });
        }
        transport.onSerialData(bytes, count);
    };
    ASSERT_TRUE(transport.channel().open(5, SerialSettings{}, onData));
    {
        std::lock_guard<std::mutex> guard(services.lock);
        flushesAtOpen = services.flushes;
    }
    peer.send(0x15);
    {
        std::unique_lock<std::mutex> guard(services.lock);
        ASSERT_TRUE(services.changed.wait_for(guard, std::chrono::seconds(5), [&] { return delivering; }));
    }
    ASSERT_EQ(link.writePacket(Bytes{0x7F}), StatusOk);
    // The machine has not answered the new request: nothing may be read.
    EXPECT_EQ(link.readPacket(1, true), Bytes{});
    link.closeTransport();
}

} // namespace
} // namespace mub
