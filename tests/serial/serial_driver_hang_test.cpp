// A driver that never returns one of its blocking calls (the port's state,
// purge, the line settings, close): the port is given up within the call's
// bound with the operator's text, its channel closes, destroying it does not
// wait for the driver, and a second channel on another device goes on
// meanwhile. Once the driver lets go, the port is still closed. Runs on
// every system.
#include "serial/driver_lane.h"
#include "serial/serial_channel.h"

#include "platform/gbk_text.h"
#include "tests/serial/channel_recorder.h"
#include "tests/support/faulty_serial_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace mub {
namespace {

using test::ChannelRecorder;
using test::FaultySerialPort;
using Call = FaultySerialPort::Call;
using Clock = std::chrono::steady_clock;

// The bound plus the scheduling a loaded machine (and a sanitizer) adds.
constexpr auto withinBound = std::chrono::milliseconds(driverCallBoundMs + 1500);

std::vector<std::uint8_t> hangTestBytes(const std::string& text) { return {text.begin(), text.end()}; }

Clock::duration timeOf(const std::function<void()>& step) {
    const auto start = Clock::now();
    step();
    return Clock::now() - start;
}

struct HungCall {
    Call call;
    const char* win32Name; // as the operator's text names it
};

class DriverHang : public ::testing::TestWithParam<HungCall> {
protected:
    bool open(SerialChannel& channel, ChannelRecorder& recorder) {
        SerialSettings settings;
        settings.baudRate = 9600;
        return channel.open(1, settings, recorder.dataHandler(), {}, {}, recorder.errorHandler());
    }
    bool told() const {
        const std::string text = gbk("串口驱动无响应：") + GetParam().win32Name +
                                 gbk(" 超过 1000 毫秒未返回，已放弃该串口。请拔下USB线重新插入。");
        const auto errors = hungRecorder.errors();
        return std::count(errors.begin(), errors.end(), text) == 1;
    }
    // The second channel, on its own device, sends and receives.
    void expectOtherPortWorks() {
        const std::uint8_t probe = 0x7F;
        const std::size_t sentBefore = otherDevice.sent().size();
        const std::size_t receivedBefore = otherRecorder.bytes().size();
        EXPECT_TRUE(other.send(&probe, 1));
        EXPECT_EQ(otherDevice.sent().size(), sentBefore + 1);
        otherDevice.arrive(hangTestBytes("QMTV"));
        EXPECT_TRUE(otherRecorder.waitForBytes(receivedBefore + 4));
    }

    const std::size_t heldBefore = heldDriverLanes();
    FaultySerialPort hungDevice, otherDevice;
    ChannelRecorder hungRecorder, otherRecorder;
    std::unique_ptr<SerialChannel> hung = std::make_unique<SerialChannel>(PortTable(), hungDevice);
    SerialChannel other{PortTable(), otherDevice};
};

TEST_P(DriverHang, ThePortIsGivenUpWithinTheBoundAndTheOtherGoesOn) {
    const Call call = GetParam().call;
    ASSERT_TRUE(open(other, otherRecorder));
    const bool duringOpen = call == Call::GetLine || call == Call::SetLine;
    if (!duringOpen) {
        ASSERT_TRUE(open(*hung, hungRecorder));
    }
    hungDevice.hangIn = call;

    // The step that meets the hung call ends within the bound.
    auto started = Clock::now();
    if (duringOpen) {
        EXPECT_FALSE(open(*hung, hungRecorder));
    } else if (call == Call::Purge) {
        EXPECT_FALSE(hung->purge(true, true));
    } else if (call == Call::ReadState) {
        hungDevice.arrive(hangTestBytes("a")); // the listener looks at the port's state at once
        EXPECT_TRUE(FaultySerialPort::waitFor([&] { return !hungRecorder.errors().empty(); }, 5000));
    } else {
        hung->close();
    }
    EXPECT_LT(Clock::now() - started, withinBound);
    EXPECT_EQ(hungDevice.callsHanging(), 1);
    EXPECT_TRUE(told()) << hungRecorder.errors().size() << " texts";

    // Given up: nothing more goes to the driver, the channel is closed.
    const std::uint8_t probe = 0x7F;
    EXPECT_FALSE(hung->send(&probe, 1));
    EXPECT_FALSE(hung->isOpen());
    EXPECT_TRUE(hungDevice.sent().empty());
    expectOtherPortWorks();

    // Its end does not wait for the driver either.
    EXPECT_LT(timeOf([&] { hung.reset(); }), withinBound);
    EXPECT_EQ(heldDriverLanes(), heldBefore + 1);
    expectOtherPortWorks();

    // The driver lets go: the port it held is closed after all, once, and
    // the lane's thread ends.
    hungDevice.releaseHangs();
    EXPECT_TRUE(FaultySerialPort::waitFor([&] { return heldDriverLanes() == heldBefore; }, 5000));
    EXPECT_EQ(hungDevice.closes(), 1);
    EXPECT_EQ(hungDevice.freedWhilePending(), 0);
}

INSTANTIATE_TEST_SUITE_P(SerialFaults, DriverHang,
                         ::testing::Values(HungCall{Call::Purge, "PurgeComm"}, HungCall{Call::ReadState, "ClearCommError"},
                                           HungCall{Call::GetLine, "GetCommState"}, HungCall{Call::SetLine, "SetCommState"},
                                           HungCall{Call::Close, "CloseHandle"}),
                         [](const ::testing::TestParamInfo<HungCall>& hungCall) { return std::string(hungCall.param.win32Name); });

} // namespace
} // namespace mub
