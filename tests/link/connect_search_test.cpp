// The COM port search of connectMachine: order, limits, port names and the
// permission hint.
#include "link/baud_rates.h"
#include "link/connect_machine.h"
#include "link/machine_link.h"
#include "link/serial_transport.h"
#include "platform/gbk_text.h"
#include "platform/port_access.h"
#include "tests/support/fake_ui.h"
#include "tests/support/simulator_process.h"
#include "tests/support/window_view.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace mub {
namespace {

using test::FakeUi;
using test::SimulatorProcess;

const std::string searchTimeout =
    gbk("通讯连接超时！！！\r\n未检测到USB设备或USB设备号被占用，关闭其他程序，重新插入USB线，然后打开机器电源。");

PortTable deadPorts() {
    PortTable table;
    for (int n = 1; n <= 255; ++n) table.setOverride(n, "/nonexistent/tty" + std::to_string(n));
    return table;
}

TEST(ComSearch, GivesUpAfter510AttemptsWithTheTimeoutTexts) {
    FakeUi ui(FakeUi::Clock::Virtual);
    SerialTransport transport(ui, deadPorts());
    MachineLink link(ui, transport);
    link.portName = "COM3";
    EXPECT_FALSE(connectInWindow(link, ui).has_value());
    EXPECT_EQ(ui.pane(), searchTimeout);
    EXPECT_EQ(ui.errorBoxes, (std::vector<std::string>{searchTimeout}));
    EXPECT_EQ(link.portName, "COM3"); // nothing answered
    // One 10 us pause a pass, one a port attempt.
    EXPECT_EQ(ui.virtualMicros(), 10 + 510 * 10);
}

// The 510th attempt, counted from portName COM3, is COM254 in the second
// round; a machine that appears there after the first round is found, one at
// COM255 (the 511th) is not.
struct SearchBoundary : ::testing::TestWithParam<std::pair<int, bool>> {};

TEST_P(SearchBoundary, LastAttemptIsCom254OfTheSecondRound) {
    const auto [port, found] = GetParam();
    SimulatorProcess machine;
    ASSERT_TRUE(machine.started());
    FakeUi ui(FakeUi::Clock::Real);
    SerialTransport transport(ui, deadPorts());
    MachineLink link(ui, transport);
    link.portName = "COM3";
    int pumps = 0;
    ui.onPump = [&] {
        // Pump 256 is the pause before the first-round attempt on COM254.
        if (++pumps == 300) transport.channel().ports().setOverride(port, machine.path());
    };
    EXPECT_EQ(connectInWindow(link, ui).has_value(), found);
    if (found) {
        EXPECT_EQ(link.portName, "COM" + std::to_string(port));
    } else {
        EXPECT_EQ(ui.errorBoxes, (std::vector<std::string>{searchTimeout}));
    }
    link.closeTransport();
}

INSTANTIATE_TEST_SUITE_P(ComSearch, SearchBoundary,
                         ::testing::Values(std::make_pair(254, true), std::make_pair(255, false)));

TEST(ComSearch, PortNumberIsTheTextAfterTheFirstThreeCharacters) {
    SimulatorProcess machine;
    ASSERT_TRUE(machine.started());
    for (const auto& [name, port, expected] : {std::make_tuple("COM12", 12, "COM12"),
                                               std::make_tuple("COM", 1, "COM1"), // port 0, then COM1
                                               std::make_tuple("XYZ200", 200, "XYZ200")}) {
        FakeUi ui(FakeUi::Clock::Real);
        PortTable ports = deadPorts();
        ports.setOverride(port, machine.path());
        SerialTransport transport(ui, ports);
        MachineLink link(ui, transport);
        link.portName = name;
        EXPECT_TRUE(connectInWindow(link, ui).has_value()) << name;
        EXPECT_EQ(link.portName, expected);
        link.closeTransport();
    }
}

// The item's rate goes into the settings record; the bridge's rates that a
// COM port does not take are passed on as they are (the channel opens the
// port at 9600 then), and no selection passes 0.
TEST(ComSearch, BaudRateComesFromTheSelectedItem) {
    FakeUi ui(FakeUi::Clock::Virtual);
    SerialTransport transport(ui, deadPorts());
    MachineLink link(ui, transport);
    ui.onPump = [&] { link.running = false; };
    for (const auto& [index, rate] : {std::pair{0, 4800}, {4, 51200}, {7, 115200}, {-1, 0}}) {
        ui.baudIndex = index;
        EXPECT_FALSE(connectInWindow(link, ui).has_value());
        EXPECT_EQ(transport.settings.baudRate, rate) << index;
    }
    EXPECT_TRUE(comPortIgnoresRate(baudIndexOf("102400")));
    EXPECT_FALSE(comPortIgnoresRate(baudIndexOf("115200")));
}

// A device that exists but may not be opened: the time-out box names it;
// its group (root's, or one without write access) grants nothing, so the
// box asks for an administrator. Runs in a child process that gives up
// root, so the permission check is real.
TEST(ComSearchDeathTest, TimeoutBoxNamesADeviceWithoutPermission) {
    char pattern[] = "/tmp/mub-denied-XXXXXX";
    int fd = ::mkstemp(pattern);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ::chmod(pattern, 0600);
    const std::string device = pattern;
    const std::string expected = searchTimeout + "\r\n" + permissionDeniedLine(device, "");
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(
        {
            if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::_Exit(3);
            if (::getuid() != 0) ::chmod(device.c_str(), 0); // without root, a mode of 0 denies
            FakeUi ui(FakeUi::Clock::Virtual);
            PortTable ports = deadPorts();
            ports.setOverride(5, device);
            SerialTransport transport(ui, ports);
            MachineLink link(ui, transport);
            bool result = connectInWindow(link, ui).has_value();
            bool boxOk = ui.errorBoxes == std::vector<std::string>{expected} && ui.pane() == searchTimeout;
            std::_Exit(!result && boxOk ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    ::unlink(pattern);
}

TEST(PortAccess, TheHintNamesOnlyAGroupThatGrantsAccess) {
    EXPECT_EQ(groupGrantingAccess(0, 020660), "");          // root's group is nobody's to join
    EXPECT_EQ(groupGrantingAccess(54321, 020640), "");      // the group may not write
    EXPECT_EQ(groupGrantingAccess(54321, 020660), "54321"); // a group without a name: its number
    if (const group* dialout = ::getgrnam("dialout")) {
        EXPECT_EQ(groupGrantingAccess(dialout->gr_gid, 020660), "dialout");
    }
    EXPECT_EQ(permissionDeniedLine("/dev/ttyS0", "").find(gbk("用户组")), std::string::npos);
    EXPECT_NE(permissionDeniedLine("/dev/ttyS0", "").find(gbk("管理员")), std::string::npos);
}

TEST(PortAccess, AccessibleOrMissingDevicesGiveNoHint) {
    std::string group;
    EXPECT_FALSE(deviceDeniesAccess("/nonexistent/tty0", &group));
    EXPECT_FALSE(deviceDeniesAccess("", &group));
    EXPECT_FALSE(deviceDeniesAccess("/dev/null", &group));
}

} // namespace
} // namespace mub
