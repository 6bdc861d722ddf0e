// How the settings record reaches the port, read back through settingsText.
#include "serial/serial_channel.h"

#include "tests/serial/channel_recorder.h"
#include "tests/serial/pty_pair.h"
#include "tests/serial/scripted_serial_port.h"

#include <gtest/gtest.h>

namespace mub {
namespace {

using test::ChannelRecorder;
using test::PtyPair;
using test::ScriptedSerialPort;

class SerialSettingsTest : public ::testing::Test {
protected:
    SerialSettingsTest() {
        services.keepFraming = true;
        channel.ports().setOverride(3, pty.devicePath());
        channel.ports().setOverride(10, pty.devicePath());
    }

    // Opens with `settings`, returns the port's settings text, closes.
    std::string appliedText(const SerialSettings& settings, int port = 3) {
        if (!channel.open(port, settings, rec.dataHandler(), {}, {}, rec.errorHandler())) return "open failed";
        std::string text = channel.settingsText();
        channel.close();
        return text;
    }
    static SerialSettings rate(std::int32_t baud) {
        SerialSettings s;
        s.baudRate = baud;
        return s;
    }

    PtyPair pty;
    ChannelRecorder rec;
    ScriptedSerialPort services;
    SerialChannel channel{PortTable(), services};
};

TEST_F(SerialSettingsTest, SupportedRatesAreKeptOthersGive9600) {
    EXPECT_EQ(appliedText(rate(57600)), "COM3,57600,N,1,8");
    EXPECT_EQ(appliedText(rate(115200)), "COM3,115200,N,1,8");
    // Rates without a standard Linux constant.
    for (std::int32_t baud : {7200, 14400, 56000, 128000, 256000})
        EXPECT_EQ(appliedText(rate(baud)), "COM3," + std::to_string(baud) + ",N,1,8");
    for (std::int32_t baud : {51200, 102400, 0, -9600, 230400})
        EXPECT_EQ(appliedText(rate(baud)), "COM3,9600,N,1,8") << baud;
    EXPECT_TRUE(rec.errors().empty());
}

TEST_F(SerialSettingsTest, ByteFramingFieldsAndTheirDefaults) {
    SerialSettings s = rate(19200);
    s.dataBits = 7;
    s.parity = 2;
    s.stopBits = 2;
    EXPECT_EQ(appliedText(s), "COM3,19200,E,2,7");
    s.dataBits = 6;
    s.parity = 1;
    s.stopBits = 0;
    EXPECT_EQ(appliedText(s), "COM3,19200,O,1,6");
    s.parity = 3;
    EXPECT_EQ(appliedText(s), "COM3,19200,M,1,6");
    s.parity = 4;
    EXPECT_EQ(appliedText(s), "COM3,19200,S,1,6");
    // Out of range: 8 data bits, no parity, one stop bit.
    s.dataBits = 5;
    s.parity = 5;
    s.stopBits = 3;
    EXPECT_EQ(appliedText(s), "COM3,19200,N,1,8");
    // One and a half stop bits: Linux has none, two are used.
    s.stopBits = 1;
    EXPECT_EQ(appliedText(s), "COM3,19200,N,2,8");
}

TEST_F(SerialSettingsTest, ParityCheckingOnlyForOddAndEven) {
    SerialSettings s = rate(9600);
    for (std::int32_t parity : {0, 1, 2, 3, 4}) {
        s.parity = parity;
        appliedText(s);
        EXPECT_EQ(services.lastSet().parityCheck, parity == 1 || parity == 2) << parity;
    }
}

TEST_F(SerialSettingsTest, FlowControlFieldsCountOnlyWhenSwitchedOn) {
    SerialSettings s = rate(9600);
    s.outxCtsFlow = 1;
    s.outX = 1;
    s.inX = 1;
    s.xonChar = 0x11 + 2;
    s.xoffChar = 200; // outside 1..127: default
    appliedText(s);
    SerialLineParams line = services.lastSet();
    EXPECT_FALSE(line.ctsFlow);
    EXPECT_FALSE(line.xonXoffOutput);
    EXPECT_FALSE(line.xonXoffInput);
    EXPECT_EQ(line.xonChar, 0x13);
    EXPECT_EQ(line.xoffChar, 19);

    s.useFlowControl = 1;
    appliedText(s);
    line = services.lastSet();
    EXPECT_TRUE(line.ctsFlow);
    EXPECT_TRUE(line.xonXoffOutput);
    EXPECT_TRUE(line.xonXoffInput);

    // Values outside a field's range count as 0.
    s = rate(9600);
    s.useFlowControl = 1;
    s.rtsControl = 2;
    s.dtrControl = 3;
    s.outX = 2;
    appliedText(s);
    line = services.lastSet();
    EXPECT_EQ(line.rtsControl, 2);
    EXPECT_EQ(line.dtrControl, 0);
    EXPECT_FALSE(line.ctsFlow);
    EXPECT_FALSE(line.xonXoffOutput);
    EXPECT_TRUE(line.abortOnError);
    s.rtsControl = 4;
    appliedText(s);
    EXPECT_EQ(services.lastSet().rtsControl, 0);
}

TEST_F(SerialSettingsTest, NameKeepsTheComNumberAboveNine) {
    EXPECT_EQ(appliedText(rate(9600), 10), "COM10,9600,N,1,8");
}

TEST_F(SerialSettingsTest, ConfigureChangesAnOpenPort) {
    ASSERT_TRUE(channel.open(3, rate(9600), rec.dataHandler()));
    SerialSettings s = rate(38400);
    s.parity = 2;
    EXPECT_TRUE(channel.configure(s));
    EXPECT_EQ(channel.settingsText(), "COM3,38400,E,1,8");
    channel.close();
    EXPECT_EQ(channel.settingsText(), "");
}

TEST_F(SerialSettingsTest, LineControlOnATerminalWithoutModemLines) {
    ASSERT_TRUE(channel.open(3, rate(9600), rec.dataHandler()));
    // A pseudo-terminal has no DTR, RTS or CTS: refused quietly.
    EXPECT_EQ(channel.lineState(), 0);
    EXPECT_FALSE(channel.lineControl(1));
    EXPECT_FALSE(channel.lineControl(4));
    // Flow characters and break are accepted by the terminal layer.
    EXPECT_TRUE(channel.lineControl(5));
    EXPECT_TRUE(channel.lineControl(6));
    EXPECT_FALSE(channel.lineControl(0));
    EXPECT_FALSE(channel.lineControl(9));
}

} // namespace
} // namespace mub
