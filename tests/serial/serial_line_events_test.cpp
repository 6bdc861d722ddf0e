// Modem-line changes and line errors, from a port that reports them the way
// a UART driver does (a pseudo-terminal underneath carries the bytes).
#include "serial/serial_channel.h"

#include "serial/serial_codes.h"
#include "tests/serial/channel_recorder.h"
#include "tests/serial/pty_pair.h"
#include "tests/serial/scripted_serial_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace mub {
namespace {

using test::ChannelRecorder;
using test::PtyPair;
using test::ScriptedSerialPort;

constexpr int eventsPort = 2;

class SerialLineEventsTest : public ::testing::Test {
protected:
    SerialLineEventsTest() { channel.ports().setOverride(eventsPort, pty.devicePath()); }

    bool openChannel() {
        return channel.open(eventsPort, SerialSettings{}, rec.dataHandler(), rec.notifyHandler(), rec.statusHandler(),
                            rec.errorHandler());
    }
    std::vector<std::int32_t> notifications(std::size_t n) { return rec.waitForNotifications(n, 1000); }

    PtyPair pty;
    ChannelRecorder rec;
    ScriptedSerialPort services;
    SerialChannel channel{PortTable(), services};
};

TEST_F(SerialLineEventsTest, LineChangesAndErrorsInTheirFixedOrder) {
    services.lines = 0;
    services.countsReadable = true;
    ASSERT_TRUE(openChannel());
    EXPECT_EQ(channel.lineState(), 1); // CTS off

    SerialLineCounts counts;
    counts.frame = 1;
    counts.breaks = 1;
    counts.ring = 1;
    services.setCounts(counts);
    services.lines = ModemCts | ModemDsr | ModemRing;
    EXPECT_EQ(notifications(5), (std::vector<std::int32_t>{NotifyCtsOn, NotifyDsrOn, NotifyBreak, NotifyLineError,
                                                           NotifyRing}));
    EXPECT_EQ(rec.waitForErrorBits(), ErrorFraming | ErrorBreak);
    EXPECT_EQ(channel.lineState(), 2);

    services.lines = ModemDsr | ModemRlsd;
    auto codes = notifications(7);
    ASSERT_EQ(codes.size(), 7u);
    EXPECT_EQ(std::vector<std::int32_t>(codes.begin() + 5, codes.end()),
              (std::vector<std::int32_t>{NotifyCtsOff, NotifyRlsdOn}));
}

TEST_F(SerialLineEventsTest, UnreadableLinesReportChangesAsOff) {
    services.countsReadable = true; // counts yes, line states no
    ASSERT_TRUE(openChannel());
    EXPECT_EQ(channel.lineState(), 0);
    SerialLineCounts counts;
    counts.cts = 1;
    counts.dsr = 1;
    counts.rlsd = 1;
    counts.ring = 1;
    services.setCounts(counts);
    EXPECT_EQ(notifications(3), (std::vector<std::int32_t>{NotifyCtsOff, NotifyDsrOff, NotifyRlsdOff}));
}

TEST_F(SerialLineEventsTest, ErrorsThatComeWithDataAreReported) {
    services.countsReadable = true;
    ASSERT_TRUE(openChannel());
    SerialLineCounts counts;
    counts.parity = 1;
    counts.overrun = 2;
    services.setCounts(counts);
    pty.write("spoiled");
    ASSERT_TRUE(rec.waitForBytes(7));
    EXPECT_EQ(rec.waitForErrorBits(), ErrorParity | ErrorOverrun);
}

TEST_F(SerialLineEventsTest, AnOwnerToldOfNoEventsIsNotWatchedAndStillHearsOfErrors) {
    services.lines = ModemCts;
    services.countsReadable = true;
    ASSERT_TRUE(channel.open(eventsPort, SerialSettings{}, rec.dataHandler(), {}, rec.statusHandler(),
                             rec.errorHandler()));
    // Nothing to watch for: the listener sleeps until bytes come (a watch
    // of the lines would look at them every few tens of milliseconds).
    const int readsAtStart = services.lineReads.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LE(services.lineReads.load() - readsAtStart, 2);
    SerialLineCounts counts;
    counts.frame = 1;
    services.setCounts(counts);
    pty.write("spoiled");
    ASSERT_TRUE(rec.waitForBytes(7));
    EXPECT_EQ(rec.waitForErrorBits(), ErrorFraming);
}

} // namespace
} // namespace mub
