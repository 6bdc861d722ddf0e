// The COM search over drivers that misbehave: an open that takes ten
// seconds (a Bluetooth port trying to connect) leaves the window handling
// its events, Stop ends the search at once, and the open left behind closes
// what it opened; the ports the system lists come first, its Bluetooth
// ports last. Runs on every system (the limits only catch a hang).
#include "link/connect_machine.h"
#include "link/machine_link.h"
#include "link/port_search.h"
#include "link/serial_transport.h"
#include "platform/gbk_text.h"
#include "tests/support/fake_ui.h"
#include "tests/support/faulty_serial_port.h"
#include "tests/support/window_view.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace mub {
namespace {

using test::FakeUi;
using test::FaultySerialPort;
using Clock = std::chrono::steady_clock;

constexpr auto hangLimit = std::chrono::seconds(5);

// Every port leads to the device, under its own name.
PortTable namedPorts() {
    PortTable ports;
    for (int n = 1; n <= 255; ++n) ports.setOverride(n, "port" + std::to_string(n));
    return ports;
}

TEST(SerialTransportFaults, SlowOpenKeepsTheWindowAliveAndStopEndsTheSearch) {
    // An open left behind outlives the test: the device must too.
    static FaultySerialPort& device = *new FaultySerialPort;
    device.openDelayMs = 10000;
    FakeUi ui(FakeUi::Clock::Real);
    {
        SerialTransport transport(ui, namedPorts(), device);
        MachineLink link(ui, transport);
        link.portName = "COM3";
        int pumpsDuringOpen = 0;
        const auto start = Clock::now();
        ui.onPump = [&] {
            if (device.opensUnderWay() > 0) ++pumpsDuringOpen;
            if (Clock::now() - start > std::chrono::milliseconds(300)) link.running = false; // Stop
        };
        EXPECT_FALSE(connectInWindow(link, ui).has_value());
        EXPECT_LT(Clock::now() - start, hangLimit);
        EXPECT_GT(pumpsDuringOpen, 5); // the window ran while the open waited
        EXPECT_TRUE(ui.errorBoxes.empty());
        EXPECT_EQ(device.openedPaths(), std::vector<std::string>{"port3"});

        // The run's end does not wait for the open; neither does a send.
        const auto closing = Clock::now();
        link.closeTransport();
        EXPECT_EQ(link.writePacket(Bytes{0x18}), StatusNoDevice);
        EXPECT_LT(Clock::now() - closing, std::chrono::seconds(1));

        // The next connection waits for the open under way, and Stop ends that wait too.
        const auto again = Clock::now();
        ui.onPump = [&] {
            if (Clock::now() - again > std::chrono::milliseconds(200)) link.running = false;
        };
        EXPECT_FALSE(connectInWindow(link, ui).has_value());
        EXPECT_LT(Clock::now() - again, hangLimit);
        EXPECT_EQ(device.openedPaths().size(), 1u);
    } // the transport goes while the open is still under way
    device.releaseOpens();
    EXPECT_TRUE(FaultySerialPort::waitFor([&] { return device.opens() == 1 && device.closes() == 1; }, 5000));
}

TEST(SerialTransportFaults, APurgeTheDriverNeverReturnsLosesTheLinkWithinItsBound) {
    FaultySerialPort device;
    FakeUi ui(FakeUi::Clock::Real);
    std::atomic<bool> running{true};
    {
        SerialTransport transport(ui, namedPorts(), device);
        ASSERT_EQ(transport.open(1, running), StatusOk);
        // Every request purges the port first: that call stays in the driver.
        device.hangIn = FaultySerialPort::Call::Purge;
        const auto start = Clock::now();
        EXPECT_EQ(transport.write(Bytes{0x7F}), StatusNoDevice);
        EXPECT_LT(Clock::now() - start, hangLimit);
        EXPECT_TRUE(device.sent().empty());
        EXPECT_EQ(transport.status(), StatusNoDevice);
        EXPECT_EQ(transport.fault().rfind(gbk("串口驱动无响应：PurgeComm"), 0), 0u) << transport.fault();
        // The port stays held by the driver: opened again, it is refused,
        // as a busy port is, and the search goes on to the next one.
        transport.close();
        EXPECT_EQ(transport.open(1, running), StatusNoDevice);
    }
    device.releaseHangs();
    EXPECT_TRUE(FaultySerialPort::waitFor([&] { return device.closes() == 1; }, 5000));
}

TEST(PortSearchOrder, ListedPortsFirstBluetoothLast) {
    const std::vector<int> plain = portSearchOrder({});
    ASSERT_EQ(plain.size(), 255u);
    EXPECT_EQ(plain.front(), 1);
    EXPECT_EQ(plain.back(), 255);

    const std::vector<int> order = portSearchOrder({{9, false}, {4, true}, {2, false}, {300, false}, {9, false}});
    ASSERT_EQ(order.size(), 255u);
    EXPECT_EQ(std::vector<int>(order.begin(), order.begin() + 5), (std::vector<int>{2, 9, 1, 3, 5}));
    EXPECT_EQ(order.back(), 4);
}

TEST(PortSearchOrder, TheSearchFollowsIt) {
    FaultySerialPort device;
    device.openError = 2; // no port answers
    FakeUi ui(FakeUi::Clock::Virtual);
    SerialTransport transport(ui, namedPorts(), device);
    transport.listPorts = [] { return std::vector<ListedSerialPort>{{9, false}, {4, true}}; };
    MachineLink link(ui, transport);
    link.portName = "COM5";
    EXPECT_FALSE(connectInWindow(link, ui).has_value());
    const auto paths = device.openedPaths();
    ASSERT_EQ(paths.size(), 510u);
    EXPECT_EQ(std::vector<std::string>(paths.begin(), paths.begin() + 4),
              (std::vector<std::string>{"port5", "port9", "port1", "port2"}));
    EXPECT_EQ(paths[255], "port4"); // the Bluetooth port ends the first round
    EXPECT_EQ(paths[256], "port9");
    EXPECT_EQ(ui.errorBoxes.size(), 1u);
}

} // namespace
} // namespace mub
