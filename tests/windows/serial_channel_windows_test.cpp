// The Windows serial channel on a COM port where a simulated machine
// answers (MUB_TEST_COM names its number). Under Wine the port is a
// pseudo-terminal, which refuses the modem-line events and DTR/RTS switching:
// these tests show that the channel's fallbacks keep it working there.
#include "platform/gbk_text.h"
#include "serial/serial_channel.h"
#include "serial/serial_codes.h"
#include "tests/serial/channel_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace mub {
namespace {

int machinePort() {
    const char* named = std::getenv("MUB_TEST_COM");
    return named ? std::atoi(named) : 0;
}

class WindowsSerialChannel : public ::testing::Test {
protected:
    void SetUp() override {
        if (machinePort() == 0) GTEST_SKIP() << "MUB_TEST_COM names no COM port with a machine";
    }
    bool open(std::int32_t eventChar = 0) {
        SerialSettings settings;
        settings.baudRate = 115200;
        settings.eventChar = eventChar;
        return channel.open(machinePort(), settings, recorder.dataHandler(), recorder.notifyHandler(),
                            recorder.statusHandler(), recorder.errorHandler());
    }
    bool probeAnswered() {
        const std::uint8_t probe = 0x7F;
        if (!channel.send(&probe, 1)) return false;
        if (!recorder.waitForBytes(4)) return false;
        const auto bytes = recorder.bytes();
        return std::string(bytes.begin(), bytes.end()).find("QMTV") != std::string::npos;
    }

    test::ChannelRecorder recorder;
    SerialChannel channel;
};

// The wait with the modem-line events is refused on such ports, and the
// waits without them are cancelled at once: the listener falls back to the
// narrower mask and then to a pending read, and the machine's reply arrives.
TEST_F(WindowsSerialChannel, RepliesArriveWhereTheEventWaitIsRefused) {
    ASSERT_TRUE(open('Q'));
    const std::string name = "COM" + std::to_string(machinePort());
    EXPECT_EQ(channel.openPortName(), name);
    EXPECT_EQ(channel.settingsText(), name + ",115200,N,1,8");
    EXPECT_TRUE(probeAnswered());
    EXPECT_TRUE(recorder.errors().empty());
}

// DTR and RTS fall back to the line settings when the driver cannot switch
// them directly; the port keeps working afterwards.
TEST_F(WindowsSerialChannel, LineControlFallsBackForDtrAndRts) {
    ASSERT_TRUE(open());
    for (std::int32_t code : {3, 4, 1, 2}) EXPECT_TRUE(channel.lineControl(code)) << code;
    EXPECT_FALSE(channel.lineControl(9));
    EXPECT_TRUE(probeAnswered());
}

TEST_F(WindowsSerialChannel, RefusalsAndClosedChannel) {
    ASSERT_TRUE(open());
    EXPECT_FALSE(open());
    channel.close();
    channel.close();
    EXPECT_EQ(channel.settingsText(), "");
    SerialSettings settings;
    EXPECT_FALSE(channel.open(0, settings, recorder.dataHandler(), {}, {}, recorder.errorHandler()));
    const auto errors = recorder.errors();
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[0], gbk("串口已打开"));
    EXPECT_EQ(errors[1].rfind(gbk("未启动串口 错误ID：6  "), 0), 0u) << utf8(errors[1]);
    EXPECT_EQ(errors[2], gbk("串口范围为1-255"));
    // Reopened after all that, the machine still answers.
    ASSERT_TRUE(open());
    EXPECT_TRUE(probeAnswered());
}

} // namespace
} // namespace mub
