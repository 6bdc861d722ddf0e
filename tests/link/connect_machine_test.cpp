// connectMachine against the simulated machine on a pseudo-terminal, over the
// serial channel (COM mode) and over the stand-in bridge library (USB mode).
#include "link/baud_rates.h"
#include "link/bridge_binding.h"
#include "link/bridge_transport.h"
#include "link/connect_machine.h"
#include "link/frame.h"
#include "link/machine_link.h"
#include "link/serial_transport.h"
#include "platform/gbk_text.h"
#include "tests/link/raw_pty.h"
#include "tests/support/fake_ui.h"
#include "tests/support/simulator_process.h"
#include "tests/support/window_view.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

namespace mub {
namespace {

using test::FakeUi;
using test::SimulatorProcess;

const std::string linkLost = gbk("设备被拔出或其他错误！！！请重新插拔USB线，然后打开机器电源。");
const std::string deviceFound = gbk("检测到USB设备，正在联机...\r\n");
const std::string readingInfo = gbk("开始读取机器信息...\r\n");
const std::string infoRead = gbk("机器信息读取成功！\r\n");

// Presses Stop when a test would otherwise wait for ever.
void stopAfter(FakeUi& ui, MachineLink& link, std::chrono::seconds limit, std::function<void()> also = {}) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    ui.onPump = [&link, deadline, also] {
        if (also) also();
        if (std::chrono::steady_clock::now() > deadline) link.running = false;
    };
}

// COM mode: every port number leads nowhere except those mapped to a
// simulated machine.
struct ComConnect : ::testing::Test {
    FakeUi ui{FakeUi::Clock::Real};
    PortTable ports = [] {
        PortTable table;
        for (int n = 1; n <= 255; ++n) table.setOverride(n, "/nonexistent/tty" + std::to_string(n));
        return table;
    }();
    std::unique_ptr<SerialTransport> transport;
    std::unique_ptr<MachineLink> link;

    void makeLink() {
        transport = std::make_unique<SerialTransport>(ui, ports);
        link = std::make_unique<MachineLink>(ui, *transport);
    }
    void TearDown() override {
        if (link) link->closeTransport();
    }
};

TEST_F(ComConnect, ReadsTheThreeTextsAndBeeps) {
    SimulatorProcess machine({"--model", "机型甲", "--hardware", "HW-B", "--software", "2.10", "--pad", "4"});
    ASSERT_TRUE(machine.started());
    ports.setOverride(7, machine.path());
    makeLink();
    link->portName = "COM7";
    ui.baudIndex = baudIndexOf("115200");
    stopAfter(ui, *link, std::chrono::seconds(20));

    const auto machineInfo = connectInWindow(*link, ui);
    ASSERT_TRUE(machineInfo.has_value());
    EXPECT_EQ(machineInfo->model, gbk("机型甲"));
    EXPECT_EQ(machineInfo->software, "2.10");
    EXPECT_EQ(ui.fieldText(Field::MachineModel), gbk("机型甲"));
    EXPECT_EQ(ui.fieldText(Field::MachineHardware), "HW-B");
    EXPECT_EQ(ui.fieldText(Field::MachineSoftware), "2.10");
    EXPECT_EQ(ui.pane(), deviceFound + readingInfo + infoRead);
    EXPECT_EQ(ui.tones, (std::vector<std::pair<int, int>>{{500, 500}}));
    EXPECT_EQ(link->portName, "COM7");
    EXPECT_EQ(transport->settings.baudRate, 115200);
    EXPECT_FALSE(ui.isEnabled(Control::BaudRateList));
    EXPECT_FALSE(ui.isEnabled(Control::OpenFileButton));
    EXPECT_TRUE(ui.errorBoxes.empty());
}

TEST_F(ComConnect, SearchGoesOnFromPortNameToComOneAndUpdatesPortName) {
    SimulatorProcess machine;
    ASSERT_TRUE(machine.started());
    ports.setOverride(2, machine.path());
    makeLink();
    link->portName = "COM3"; // not there: COM1, then COM2 next
    stopAfter(ui, *link, std::chrono::seconds(20));
    ASSERT_TRUE(connectInWindow(*link, ui).has_value());
    EXPECT_EQ(link->portName, "COM2");
}

TEST_F(ComConnect, FourBadRepliesFailWithTheReadFailureTexts) {
    SimulatorProcess machine({"--corrupt-frames", "4", "--corrupt-requests", "P"});
    ASSERT_TRUE(machine.started());
    ports.setOverride(7, machine.path());
    makeLink();
    link->portName = "COM7";
    stopAfter(ui, *link, std::chrono::seconds(20));
    EXPECT_FALSE(connectInWindow(*link, ui).has_value());
    EXPECT_EQ(ui.pane(), gbk("机器信息读取失败！请选择其他波特率,或者请重新插拔USB线。"));
    EXPECT_EQ(ui.errorBoxes, (std::vector<std::string>{gbk("机器信息读取失败！请选择其他波特率,或者请重新插拔USB连接线。")}));
    EXPECT_EQ(ui.fieldText(Field::MachineModel), "QM-3000"); // filled fields keep their texts
    EXPECT_EQ(ui.fieldText(Field::MachineHardware), "");
    EXPECT_TRUE(ui.tones.empty());
}

TEST_F(ComConnect, TenUnansweredConfirmationsFail) {
    test::SimulatorProcess machine({"--no-confirm"});
    ASSERT_TRUE(machine.started());
    ports.setOverride(7, machine.path());
    makeLink();
    link->portName = "COM7";
    stopAfter(ui, *link, std::chrono::seconds(20));
    EXPECT_FALSE(connectInWindow(*link, ui).has_value());
    const std::string text = gbk("联机失败！！！通讯超时！请选择其他波特率,或者检查串口设置是否正确。");
    EXPECT_EQ(ui.pane(), text);
    EXPECT_EQ(ui.errorBoxes, (std::vector<std::string>{text}));
}

TEST_F(ComConnect, StopDuringTheSearchReturnsFalseWithoutABox) {
    makeLink();
    link->portName = "COM1";
    int pumps = 0;
    ui.onPump = [&] {
        if (++pumps == 50) link->running = false;
    };
    EXPECT_FALSE(connectInWindow(*link, ui).has_value());
    EXPECT_TRUE(ui.errorBoxes.empty());
    EXPECT_LE(pumps, 51);
}

TEST_F(ComConnect, LinkLostAfterAnAnswerSearchesAgainFromThatPort) {
    SimulatorProcess first;
    SimulatorProcess second;
    ASSERT_TRUE(first.started() && second.started());
    ports.setOverride(7, first.path());
    ports.setOverride(2, second.path());
    makeLink();
    link->portName = "COM7";
    // The first machine answers the probe and is unplugged as it is found,
    // before the link's next send (the replies to later requests could
    // otherwise be read from the terminal's queue after it is gone).
    bool unplugged = false;
    ui.onMessage = [&](const std::string& text) {
        if (!unplugged && text == deviceFound) {
            unplugged = true;
            first.stop(true);
        }
    };
    stopAfter(ui, *link, std::chrono::seconds(30));
    ASSERT_TRUE(connectInWindow(*link, ui).has_value());
    EXPECT_TRUE(unplugged);
    auto shown = ui.shownMessages();
    EXPECT_NE(std::find(shown.begin(), shown.end(), linkLost), shown.end());
    EXPECT_EQ(link->portName, "COM2");
}

// A machine played by the test on a pseudo-terminal: it answers the probe
// and the confirmation with the mark followed by a zero byte, and the three
// requests with frames.
class ZeroEndedMarkMachine {
public:
    ZeroEndedMarkMachine() { thread_ = std::thread([this] { play(); }); }
    ~ZeroEndedMarkMachine() {
        done_ = true;
        thread_.join();
    }
    const std::string& path() const { return pty_.path; }

private:
    void reply(const Bytes& bytes) {
        if (::write(master_, bytes.data(), bytes.size()) < 0) done_ = true;
    }
    void play() {
        const Bytes mark{'Q', 'M', 'T', 'V', 0};
        while (!done_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) continue;
            std::uint8_t byte = 0;
            if (::read(master_, &byte, 1) != 1) continue;
            if (confirmLeft_ > 0) { // the rest of the confirmation, echoed when complete
                if (--confirmLeft_ == 0) reply(mark);
                continue;
            }
            if (byte == 'Q') confirmLeft_ = 3;
            if (byte == 0x7F) reply(mark);
            if (byte == 'M') reply(buildFrame(std::string_view("Z-1")));
            if (byte == 'P') reply(buildFrame(std::string_view("H2")));
            if (byte == 'F') reply(buildFrame(std::string_view("S3")));
        }
    }
    test::RawPty pty_;
    const int master_ = pty_.master;
    int confirmLeft_ = 0;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

TEST_F(ComConnect, MarkIsReadAsATextEndingAtItsFirstZeroByte) {
    ZeroEndedMarkMachine machine;
    ports.setOverride(7, machine.path());
    makeLink();
    link->portName = "COM7";
    stopAfter(ui, *link, std::chrono::seconds(20));
    ASSERT_TRUE(connectInWindow(*link, ui).has_value());
    EXPECT_EQ(ui.fieldText(Field::MachineModel), "Z-1");
    EXPECT_EQ(ui.fieldText(Field::MachineSoftware), "S3");
    EXPECT_EQ(ui.pane(), deviceFound + readingInfo + infoRead);
}

TEST_F(ComConnect, AProbeGapPausesAfterEachUnansweredProbe) {
    // A port that waits for machines: the probes it sends in 1.2 s, read
    // from the other end, with a gap of 300 ms (back to back: about 50).
    test::RawPty pty;
    ports.setOverride(7, pty.path);
    makeLink();
    link->portName = "COM7";
    std::atomic<int> probes{0};
    std::thread counter([&] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1200);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{pty.master, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            std::uint8_t buffer[64];
            const ssize_t n = ::read(pty.master, buffer, sizeof buffer);
            for (ssize_t i = 0; i < n; ++i) probes += buffer[i] == 0x7F;
        }
    });
    stopAfter(ui, *link, std::chrono::seconds(2));
    NoObserver quiet;
    EXPECT_FALSE(connectMachine(*link, baudIndexOf("115200"), quiet, std::chrono::milliseconds(300)).has_value());
    counter.join();
    EXPECT_GE(probes.load(), 2);
    EXPECT_LE(probes.load(), 6);
}

// USB mode: the real binding and the stand-in bridge library, pointed at the
// simulated machine's terminal.
struct UsbConnect : ::testing::Test {
    FakeUi ui{FakeUi::Clock::Real};
    BridgeBinding bridge;
    BridgeTransport transport{&bridge};
    std::unique_ptr<MachineLink> link;

    void SetUp() override {
        ASSERT_TRUE(bridge.load(SimulatorProcess::binDir() + "/" + bridgeLibraryFileName())) << bridge.error();
        link = std::make_unique<MachineLink>(ui, transport);
    }
    void TearDown() override {
        if (link) link->closeTransport();
        ::unsetenv("BRIDGEMINI_DEVICE");
    }
};

TEST_F(UsbConnect, ReadsTheThreeTexts) {
    SimulatorProcess machine({"--model", "机型乙", "--hardware", "P2", "--software", "3.5", "--pad", "2"});
    ASSERT_TRUE(machine.started());
    ::setenv("BRIDGEMINI_DEVICE", machine.path().c_str(), 1);
    stopAfter(ui, *link, std::chrono::seconds(20));
    ASSERT_TRUE(connectInWindow(*link, ui).has_value());
    EXPECT_EQ(ui.fieldText(Field::MachineModel), gbk("机型乙"));
    EXPECT_EQ(ui.fieldText(Field::MachineHardware), "P2");
    EXPECT_EQ(ui.fieldText(Field::MachineSoftware), "3.5");
    EXPECT_EQ(ui.pane(), deviceFound + readingInfo + infoRead);
    EXPECT_EQ(ui.tones.size(), 1u);
}

TEST_F(UsbConnect, ThreeBadRepliesThenAGoodOneSucceedFourFail) {
    {
        SimulatorProcess machine({"--corrupt-frames", "3", "--corrupt-requests", "F"});
        ASSERT_TRUE(machine.started());
        ::setenv("BRIDGEMINI_DEVICE", machine.path().c_str(), 1);
        stopAfter(ui, *link, std::chrono::seconds(20));
        EXPECT_TRUE(connectInWindow(*link, ui).has_value());
        link->closeTransport();
    }
    SimulatorProcess machine({"--corrupt-frames", "4", "--corrupt-requests", "F"});
    ASSERT_TRUE(machine.started());
    ::setenv("BRIDGEMINI_DEVICE", machine.path().c_str(), 1);
    EXPECT_FALSE(connectInWindow(*link, ui).has_value());
    EXPECT_EQ(ui.errorBoxes, (std::vector<std::string>{gbk("机器信息读取失败！请选择其他波特率,或者请重新插拔USB连接线。")}));
}

TEST_F(UsbConnect, NoDeviceIsReportedOnceUntilStop) {
    ::setenv("BRIDGEMINI_DEVICE", "/nonexistent/ttyBridge", 1);
    int pumps = 0;
    ui.onPump = [&] {
        if (++pumps == 60) link->running = false;
    };
    EXPECT_FALSE(connectInWindow(*link, ui).has_value());
    EXPECT_EQ(ui.shownMessages(),
              (std::vector<std::string>{gbk("未检测到USB设备，请插上USB线或拔出USB线重新插入，然后打开机器电源。")}));
    EXPECT_TRUE(ui.errorBoxes.empty());
}

TEST_F(UsbConnect, SilentMachineIsProbedUntilStop) {
    SimulatorProcess machine({"--silent"});
    ASSERT_TRUE(machine.started());
    ::setenv("BRIDGEMINI_DEVICE", machine.path().c_str(), 1);
    int pumps = 0;
    ui.onPump = [&] {
        if (++pumps == 20) link->running = false;
    };
    EXPECT_FALSE(connectInWindow(*link, ui).has_value());
    EXPECT_EQ(ui.shownMessages(), (std::vector<std::string>{deviceFound}));
    EXPECT_TRUE(ui.errorBoxes.empty());
}

TEST_F(UsbConnect, DeviceHeldByAnotherConnectionIsBusy) {
    SimulatorProcess machine;
    ASSERT_TRUE(machine.started());
    ::setenv("BRIDGEMINI_DEVICE", machine.path().c_str(), 1);
    BridgeParams other;
    ASSERT_EQ(lowWord32(bridge.connectBridge(other, 1)), StatusOk);
    int pumps = 0;
    ui.onPump = [&] {
        if (++pumps == 100) link->running = false;
    };
    EXPECT_FALSE(connectInWindow(*link, ui).has_value());
    EXPECT_EQ(ui.shownMessages(), (std::vector<std::string>{gbk("当前USB设备号被占用，请拔出其他相同设备或关闭其他机器电源。")}));
    bridge.disconnectBridge(other);
}

} // namespace
} // namespace mub
