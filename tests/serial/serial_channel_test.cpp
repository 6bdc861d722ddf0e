#include "serial/serial_channel.h"

#include "platform/gbk_text.h"
#include "tests/serial/channel_recorder.h"
#include "tests/serial/pty_pair.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <numeric>

namespace mub {
namespace {

using test::ChannelRecorder;
using test::PtyPair;

constexpr int channelPort = 3;

class SerialChannelTest : public ::testing::Test {
protected:
    SerialChannelTest() { channel.ports().setOverride(channelPort, pty.devicePath()); }

    bool openChannel(std::int32_t baudRate = 57600) {
        SerialSettings settings;
        settings.baudRate = baudRate;
        return channel.open(channelPort, settings, rec.dataHandler(), rec.notifyHandler(), rec.statusHandler(),
                            rec.errorHandler());
    }

    PtyPair pty;
    ChannelRecorder rec;
    SerialChannel channel;
};

std::vector<std::uint8_t> pattern(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return bytes;
}

TEST_F(SerialChannelTest, OpensClosesAndReopens) {
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(openChannel()) << "round " << round;
        EXPECT_TRUE(channel.isOpen());
        EXPECT_EQ(channel.openPortName(), "COM3");
        channel.close();
        EXPECT_FALSE(channel.isOpen());
        EXPECT_EQ(channel.openPortName(), "");
    }
    channel.close(); // closing a closed channel: nothing happens
    EXPECT_TRUE(rec.errors().empty());
}

TEST_F(SerialChannelTest, DataFlowsBothWays) {
    ASSERT_TRUE(openChannel());
    pty.write("QMTV");
    ASSERT_TRUE(rec.waitForBytes(4));
    EXPECT_EQ(rec.bytes(), std::vector<std::uint8_t>({'Q', 'M', 'T', 'V'}));

    auto out = pattern(1000);
    std::int32_t written = -1;
    EXPECT_TRUE(channel.send(out.data(), static_cast<std::int32_t>(out.size()), &written));
    EXPECT_EQ(written, 1000);
    EXPECT_EQ(pty.read(out.size()), out);
    EXPECT_TRUE(rec.errors().empty());
}

TEST_F(SerialChannelTest, EmptyOrClosedSendWritesNothing) {
    std::uint8_t byte = 0x7F;
    std::int32_t written = -1;
    EXPECT_FALSE(channel.send(&byte, 1, &written)); // not open
    EXPECT_EQ(written, 0);
    ASSERT_TRUE(openChannel());
    EXPECT_FALSE(channel.send(&byte, 0, &written));
    EXPECT_FALSE(channel.send(nullptr, 5, &written));
    EXPECT_EQ(written, 0);
    EXPECT_TRUE(pty.read(1, 50).empty());
}

} // namespace
} // namespace mub
