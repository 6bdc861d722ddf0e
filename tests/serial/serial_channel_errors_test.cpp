// Refusals and failures of the serial channel: each reaches onError with its
// exact text and leaves the channel in the stated state.
#include "serial/serial_channel.h"

#include "platform/gbk_text.h"
#include "tests/serial/channel_recorder.h"
#include "tests/serial/pty_pair.h"
#include "tests/serial/scripted_serial_port.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace mub {
namespace {

using test::ChannelRecorder;
using test::PtyPair;
using test::ScriptedSerialPort;

constexpr int faultyPort = 5;

class SerialChannelErrorsTest : public ::testing::Test {
protected:
    SerialChannelErrorsTest() { channel.ports().setOverride(faultyPort, pty.devicePath()); }

    bool openChannel(SerialChannel& ch, std::int32_t port = faultyPort) {
        SerialSettings settings;
        settings.baudRate = 115200;
        return ch.open(port, settings, rec.dataHandler(), rec.notifyHandler(), rec.statusHandler(),
                       rec.errorHandler());
    }
    bool openChannel() { return openChannel(channel); }

    // The layout of an error that carries the system's code.
    static std::string coded(const char* prefix, int code, const char* message) {
        return gbk(prefix) + gbk(" 错误ID：") + std::to_string(code) + "  " + message;
    }

    PtyPair pty;
    ChannelRecorder rec;
    ScriptedSerialPort services;
    SerialChannel channel{PortTable(), services};
};

TEST_F(SerialChannelErrorsTest, PortNumberOutsideRangeTouchesNoDevice) {
    channel.ports().setOverride(0, pty.devicePath());
    channel.ports().setOverride(256, pty.devicePath());
    EXPECT_FALSE(openChannel(channel, 0));
    EXPECT_FALSE(openChannel(channel, 256));
    EXPECT_FALSE(openChannel(channel, -1));
    EXPECT_EQ(services.opens.load(), 0);
    EXPECT_EQ(rec.errors(), std::vector<std::string>(3, gbk("串口范围为1-255")));
    EXPECT_FALSE(channel.isOpen());
    // 255 is in range; it has no device in the default table.
    EXPECT_FALSE(openChannel(channel, 255));
    EXPECT_EQ(rec.errors().back(), coded("串口句柄", ENOENT, "No such file or directory"));
}

TEST_F(SerialChannelErrorsTest, SecondOpenIsRefusedAndTheFirstGoesOn) {
    ASSERT_TRUE(openChannel());
    EXPECT_FALSE(openChannel());
    EXPECT_EQ(rec.errors(), std::vector<std::string>{gbk("串口已打开")});
    EXPECT_EQ(channel.openPortName(), "COM5");
    pty.write("ok");
    EXPECT_TRUE(rec.waitForBytes(2));
    channel.close();
    EXPECT_TRUE(openChannel());
}

TEST_F(SerialChannelErrorsTest, PortHeldByAnotherChannelIsBusy) {
    ASSERT_TRUE(openChannel());
    SerialChannel other;
    other.ports().setOverride(faultyPort, pty.devicePath());
    EXPECT_FALSE(openChannel(other));
    EXPECT_EQ(rec.errors(), std::vector<std::string>{coded("串口句柄", EBUSY, "Device or resource busy")});
    EXPECT_FALSE(other.isOpen());
    channel.close();
    EXPECT_TRUE(openChannel(other)); // released by close
}

TEST_F(SerialChannelErrorsTest, MissingDeviceAndNonTerminal) {
    channel.ports().setOverride(7, "/dev/ttyUSB-does-not-exist");
    channel.ports().setOverride(8, "/dev/null");
    EXPECT_FALSE(openChannel(channel, 7));
    EXPECT_FALSE(openChannel(channel, 8));
    EXPECT_EQ(rec.errors(), (std::vector<std::string>{coded("串口句柄", ENOENT, "No such file or directory"),
                                                      coded("串口句柄", ENOTTY, "Inappropriate ioctl for device")}));
    EXPECT_FALSE(channel.isOpen());
    EXPECT_EQ(channel.openPortName(), "");
}

TEST_F(SerialChannelErrorsTest, OperationsWithoutAnOpenPortReportIt) {
    ASSERT_TRUE(openChannel()); // stores the error handler
    channel.close();
    const std::string notStarted = coded("未启动串口", EBADF, "Bad file descriptor");
    EXPECT_EQ(channel.settingsText(), "");
    EXPECT_FALSE(channel.purge(true, true));
    EXPECT_FALSE(channel.configure(SerialSettings{}));
    EXPECT_EQ(rec.errors(), std::vector<std::string>(3, notStarted));
    // These fail quietly.
    EXPECT_EQ(channel.lineState(), 0);
    EXPECT_FALSE(channel.lineControl(3));
    EXPECT_EQ(rec.errors().size(), 3u);
}

TEST_F(SerialChannelErrorsTest, UnreadableOrRefusedLineParametersCloseThePort) {
    services.getLineError = EIO;
    EXPECT_FALSE(openChannel());
    EXPECT_FALSE(channel.isOpen());
    services.getLineError = 0;
    services.setLineError = EINVAL;
    EXPECT_FALSE(openChannel());
    EXPECT_FALSE(channel.isOpen());
    EXPECT_EQ(rec.errors(), (std::vector<std::string>{coded("GetCommState", EIO, "Input/output error"),
                                                      coded("SetCommState", EINVAL, "Invalid argument")}));
    // Nothing is left open: the device can be opened again at once.
    services.setLineError = 0;
    EXPECT_TRUE(openChannel());
}

TEST_F(SerialChannelErrorsTest, SettingsTextFailureLeavesThePortOpen) {
    ASSERT_TRUE(openChannel());
    services.getLineError = EIO;
    EXPECT_EQ(channel.settingsText(), "");
    EXPECT_EQ(rec.errors(), std::vector<std::string>{coded("GetCommState", EIO, "Input/output error")});
    EXPECT_TRUE(channel.isOpen());
}

TEST_F(SerialChannelErrorsTest, FailedListenerStartReportsTwiceAndReleasesAll) {
    services.wakeError = EMFILE;
    EXPECT_FALSE(openChannel());
    const char* message = "Too many open files";
    EXPECT_EQ(rec.errors(), (std::vector<std::string>{coded("无法初始化事件", EMFILE, message),
                                                      coded("集线程句柄创建失败", EMFILE, message)}));
    EXPECT_FALSE(channel.isOpen());
    services.wakeError = 0;
    EXPECT_TRUE(openChannel());
}

TEST_F(SerialChannelErrorsTest, OpenWithoutErrorHandlerStillFailsCleanly) {
    SerialSettings settings;
    EXPECT_FALSE(channel.open(0, settings, rec.dataHandler()));
    EXPECT_FALSE(channel.open(faultyPort + 1, settings, rec.dataHandler())); // COM6: no ttyUSB5 here
    EXPECT_TRUE(channel.open(faultyPort, settings, rec.dataHandler()));
    EXPECT_TRUE(rec.errors().empty());
}

} // namespace
} // namespace mub
