// The bridge binding, and the stand-in bridge library loaded through it and
// driven against a pseudo-terminal the test plays the device on.
#include "link/bridge_binding.h"

#include "platform/bridge_abi.h"
#include "platform/gbk_text.h"
#include "tests/link/raw_pty.h"
#include "tests/support/simulator_process.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

namespace mub {
namespace {

TEST(BridgeBinding, LooksBesideTheProgramForThePlatformFile) {
    EXPECT_STREQ(bridgeLibraryFileName(), "libBridgeMini.so");
    const std::string dir = programDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(::access((dir + "link_tests").c_str(), X_OK), 0); // this program lives there
    EXPECT_EQ(defaultBridgeLibraryPath(), dir + "libBridgeMini.so");
}

TEST(BridgeBinding, MissingFileOrFunctionsFailClearly) {
    BridgeBinding binding;
    EXPECT_FALSE(binding.load("/nonexistent/libBridgeMini.so"));
    EXPECT_EQ(binding.failure(), BridgeLoadFailure::NotFound);
    EXPECT_NE(binding.error().find("/nonexistent/libBridgeMini.so"), std::string::npos);
    EXPECT_EQ(utf8(binding.operatorText()), "无法启动此程序，因为该计算机中丢失libBridgeMini.so文件！请重新安装该程序。");
    EXPECT_FALSE(binding.loaded());

    // The C library is a loadable file without the six functions.
    Dl_info info{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(&std::fopen), &info), 0);
    EXPECT_FALSE(binding.load(info.dli_fname));
    EXPECT_EQ(binding.failure(), BridgeLoadFailure::MissingFunction);
    EXPECT_NE(binding.error().find("MA101_ConnectBridge"), std::string::npos) << binding.error();
    EXPECT_NE(utf8(binding.operatorText()).find("缺少函数MA101_ConnectBridge"), std::string::npos);
    EXPECT_FALSE(binding.loaded());

    BridgeParams params;
    std::uint32_t count = 7;
    std::uint8_t byte = 0;
    EXPECT_EQ(lowWord32(binding.connectBridge(params, 1)), StatusNoDevice);
    EXPECT_EQ(lowWord32(binding.writeData(params, &byte, 1, &count)), StatusNoDevice);
    EXPECT_EQ(lowWord32(binding.readData(params, &byte, 1, &count)), StatusNoDevice);
    EXPECT_EQ(lowWord32(binding.disconnectBridge(params)), StatusOk);

    test::TempFolder folder;
    folder.write(bridgeLibraryFileName(), "not a library");
    EXPECT_FALSE(binding.load(folder.path(bridgeLibraryFileName())));
    EXPECT_EQ(binding.failure(), BridgeLoadFailure::Other);
    EXPECT_NE(utf8(binding.operatorText()).find("无法加载libBridgeMini.so"), std::string::npos);
}

// Exports of a made-up library, looked up as the system's symbol lookup would.
void* exportOf(void* library, const char* name) {
    auto* names = static_cast<std::set<std::string>*>(library);
    return names->count(name) ? static_cast<void*>(names) : nullptr;
}

TEST(BridgeBinding, FunctionsAreFoundUnderPlainOrDecoratedNames) {
    struct Row {
        std::set<std::string> exports;
        std::string found, misfit;
    };
    const Row rows[] = {
        {{"MA101_WriteData", "_MA101_WriteData@16"}, "MA101_WriteData", ""},
        {{"_MA101_WriteData@16", "MA101_WriteData@16"}, "_MA101_WriteData@16", ""},
        {{"MA101_WriteData@16"}, "MA101_WriteData@16", ""},
        // A decorated name of another size is a different function.
        {{"_MA101_WriteData@12"}, "", "_MA101_WriteData@12"},
        {{"MA101_WriteData@20"}, "", "MA101_WriteData@20"},
        {{"MA101_ReadData", "MA101_WriteDat"}, "", ""},
    };
    for (const Row& row : rows) {
        std::set<std::string> exports = row.exports;
        const BridgeSymbol symbol = findBridgeSymbol(&exports, exportOf, "MA101_WriteData", 4);
        EXPECT_EQ(symbol.exportedAs, row.found);
        EXPECT_EQ(symbol.address != nullptr, !row.found.empty());
        EXPECT_EQ(symbol.misfit, row.misfit);
    }
}

TEST(BridgeBinding, TheRemovedBytesTellTheConvention) {
    EXPECT_EQ(conventionOfCall(0, 4), BridgeConvention::Cdecl);
    EXPECT_EQ(conventionOfCall(16, 4), BridgeConvention::Stdcall);
    EXPECT_EQ(conventionOfCall(4, 1), BridgeConvention::Stdcall);
    EXPECT_EQ(conventionOfCall(8, 1), BridgeConvention::Unknown);
    EXPECT_EQ(conventionOfCall(12, 4), BridgeConvention::Unknown);
    EXPECT_EQ(conventionOfCall(0xFFFFFFFCu, 1), BridgeConvention::Unknown); // the stack grew
}

// The stand-in loads in one convention, the platform's own: no probe call,
// no line about it.
TEST(BridgeBinding, TheStandInLoadsWithThePlatformConvention) {
    BridgeBinding binding;
    ASSERT_TRUE(binding.load(test::SimulatorProcess::binDir() + "/" + bridgeLibraryFileName())) << binding.error();
    EXPECT_EQ(binding.failure(), BridgeLoadFailure::None);
    EXPECT_EQ(binding.convention(), BridgeConvention::Platform);
    EXPECT_TRUE(binding.error().empty());
}

struct StandInBridge : ::testing::Test {
    BridgeBinding bridge;
    test::RawPty device; // stands for the USB-serial device
    BridgeParams params;

    void SetUp() override {
        ASSERT_TRUE(bridge.load(test::SimulatorProcess::binDir() + "/" + bridgeLibraryFileName())) << bridge.error();
        ::setenv("BRIDGEMINI_DEVICE", device.path.c_str(), 1);
    }
    void TearDown() override {
        bridge.disconnectBridge(params);
        ::unsetenv("BRIDGEMINI_DEVICE");
    }
    std::uint32_t write(const std::string& bytes, std::uint32_t* count = nullptr) {
        std::uint32_t ignored = 0;
        return lowWord32(bridge.writeData(params, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                          static_cast<int>(bytes.size()), count ? count : &ignored));
    }
    std::string read(int length, std::uint32_t timeoutMs, std::uint32_t* status = nullptr) {
        params.words[2] = timeoutMs;
        std::string buffer(static_cast<std::size_t>(length), '\0');
        std::uint32_t count = 0;
        std::uint32_t s = lowWord32(bridge.readData(params, reinterpret_cast<std::uint8_t*>(buffer.data()), length, &count));
        if (status) *status = s;
        buffer.resize(std::min<std::size_t>(count, buffer.size()));
        return buffer;
    }
};

TEST_F(StandInBridge, MissingOrUnsuitableDevicesAreNoDevice) {
    ::setenv("BRIDGEMINI_DEVICE", "/nonexistent/ttyUSB9", 1);
    EXPECT_EQ(lowWord32(bridge.connectBridge(params, 1)), StatusNoDevice);
    ::setenv("BRIDGEMINI_DEVICE", "/dev/null", 1); // not a terminal
    EXPECT_EQ(lowWord32(bridge.connectBridge(params, 1)), StatusNoDevice);
    ::unsetenv("BRIDGEMINI_DEVICE");
    params.words[0] = 0xFFFF; // ids no USB device has
    params.words[1] = 0xFFFE;
    EXPECT_EQ(lowWord32(bridge.connectBridge(params, 1)), StatusNoDevice);
}

// A tty class folder laid out like sysfs: a usb-serial port (ids two levels
// above the port), a CDC-ACM port (one level above) and an on-board UART.
struct FakeSysfs {
    std::filesystem::path root;
    explicit FakeSysfs(const std::string& acmProduct) {
        namespace fs = std::filesystem;
        root = fs::temp_directory_path() / ("mub-sysfs-" + std::to_string(::getpid()));
        fs::remove_all(root);
        auto write = [](const fs::path& path, const std::string& text) {
            fs::create_directories(path.parent_path());
            std::ofstream(path) << text;
        };
        fs::create_directories(root / "class");
        write(root / "devices/pci0/usb1/1-1/idVendor", "0e6a\n");
        write(root / "devices/pci0/usb1/1-1/idProduct", "0103\n");
        fs::create_directories(root / "devices/pci0/usb1/1-1/1-1:1.0/ttyUSB97/tty/ttyUSB97");
        fs::create_directory_symlink("../../../ttyUSB97", root / "devices/pci0/usb1/1-1/1-1:1.0/ttyUSB97/tty/ttyUSB97/device");
        fs::create_directory_symlink("../devices/pci0/usb1/1-1/1-1:1.0/ttyUSB97/tty/ttyUSB97", root / "class/ttyUSB97");
        write(root / "devices/pci0/usb2/2-1/idVendor", "0E6A\n");
        write(root / "devices/pci0/usb2/2-1/idProduct", acmProduct + "\n");
        fs::create_directories(root / "devices/pci0/usb2/2-1/2-1:1.0/tty/ttyACM98");
        fs::create_directory_symlink("../../../2-1:1.0", root / "devices/pci0/usb2/2-1/2-1:1.0/tty/ttyACM98/device");
        fs::create_directory_symlink("../devices/pci0/usb2/2-1/2-1:1.0/tty/ttyACM98", root / "class/ttyACM98");
        fs::create_directories(root / "devices/platform/serial8250/tty/ttyS0");
        fs::create_directory_symlink("../../../serial8250", root / "devices/platform/serial8250/tty/ttyS0/device");
        fs::create_directory_symlink("../devices/platform/serial8250/tty/ttyS0", root / "class/ttyS0");
        fs::create_directories(root / "dev");
        ::setenv("BRIDGEMINI_TTY_CLASS", (root / "class").c_str(), 1);
        ::setenv("BRIDGEMINI_DEV_FOLDER", (root / "dev").c_str(), 1);
    }
    // Makes the device node of a port: a link to a real terminal.
    void plug(const std::string& name, const std::string& terminal) const {
        std::filesystem::create_symlink(terminal, root / "dev" / name);
    }
    ~FakeSysfs() {
        ::unsetenv("BRIDGEMINI_TTY_CLASS");
        ::unsetenv("BRIDGEMINI_DEV_FOLDER");
        std::filesystem::remove_all(root);
    }
};

TEST_F(StandInBridge, FindsTheTtyByUsbIds) {
    ::unsetenv("BRIDGEMINI_DEVICE");
    {
        // Both ports carry the ids: two devices of the kind count as busy.
        FakeSysfs sysfs("0103");
        EXPECT_EQ(lowWord32(bridge.connectBridge(params, 1)), StatusDeviceBusy);
        params.words[1] = 0x0104; // ids no port has
        EXPECT_EQ(lowWord32(bridge.connectBridge(params, 1)), StatusNoDevice);
    }
    // One match: the usb-serial port, whose node leads to the test's terminal.
    FakeSysfs sysfs("0200");
    params.words[1] = 0x0103;
    EXPECT_EQ(lowWord32(bridge.connectBridge(params, 1)), StatusNoDevice); // no node yet
    sysfs.plug("ttyUSB97", device.path);
    ASSERT_EQ(lowWord32(bridge.connectBridge(params, 1)), StatusOk);
    EXPECT_EQ(write("via ids"), StatusOk);
    EXPECT_EQ(device.take(7), "via ids");
    bridge.disconnectBridge(params);
    // The CDC-ACM port has its own product id (ids one level up this time).
    params.words[1] = 0x0200;
    EXPECT_EQ(lowWord32(bridge.connectBridge(params, 1)), StatusNoDevice);
    sysfs.plug("ttyACM98", device.path);
    EXPECT_EQ(lowWord32(bridge.connectBridge(params, 1)), StatusOk);
}

TEST_F(StandInBridge, SecondHolderIsBusyUntilTheFirstDisconnects) {
    ASSERT_EQ(lowWord32(bridge.connectBridge(params, 1)), StatusOk);
    BridgeParams other;
    EXPECT_EQ(lowWord32(bridge.connectBridge(other, 1)), StatusDeviceBusy);
    // Connecting the same block again starts over instead of tripping on itself.
    EXPECT_EQ(lowWord32(bridge.connectBridge(params, 1)), StatusOk);
    bridge.disconnectBridge(params);
    bridge.disconnectBridge(params); // harmless when repeated
    EXPECT_EQ(lowWord32(bridge.connectBridge(other, 1)), StatusOk);
    bridge.disconnectBridge(other);
}

TEST_F(StandInBridge, WritesAndReadsWithinTheirTimeouts) {
    ASSERT_EQ(lowWord32(bridge.connectBridge(params, 1)), StatusOk);
    std::uint32_t written = 0;
    EXPECT_EQ(write("QMTV", &written), StatusOk);
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(device.take(4), "QMTV");

    device.put("abc");
    std::uint32_t status = 0;
    EXPECT_EQ(read(3, 1000, &status), "abc");
    EXPECT_EQ(status, StatusOk);

    // Fewer bytes than asked: what came, after the time-out.
    device.put("x");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read(4, 50, &status), "x");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
    EXPECT_NE(status, StatusOk);
}

TEST_F(StandInBridge, ClearDiscardsQueuedInput) {
    ASSERT_EQ(lowWord32(bridge.connectBridge(params, 1)), StatusOk);
    device.put("stale");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(lowWord32(bridge.clearDevBuffer(params)), StatusOk);
    device.put("new");
    EXPECT_EQ(read(3, 1000), "new");
}

TEST_F(StandInBridge, ModeRecordSetsTheLineSpeed) {
    ASSERT_EQ(lowWord32(bridge.connectBridge(params, 1)), StatusOk);
    const std::uint8_t record[4] = {0x01, 7, 0x00, 0x01};
    EXPECT_EQ(lowWord32(bridge.setMode(params, record, 4)), StatusOk);
    int fd = ::open(device.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(::tcgetattr(fd, &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B115200));
    ::close(fd);
    const std::uint8_t custom[4] = {0x01, 4, 0x00, 0x01}; // 51200: no standard constant
    EXPECT_EQ(lowWord32(bridge.setMode(params, custom, 4)), StatusOk);
    const std::uint8_t none[4] = {0x01, 0xFF, 0x00, 0x01};
    EXPECT_NE(lowWord32(bridge.setMode(params, none, 4)), StatusOk);
}

TEST_F(StandInBridge, UnpluggedDeviceIsReportedAsNoDevice) {
    ASSERT_EQ(lowWord32(bridge.connectBridge(params, 1)), StatusOk);
    device.unplug();
    std::uint32_t status = 0;
    EXPECT_EQ(read(4, 200, &status), "");
    EXPECT_EQ(status, StatusNoDevice);
    EXPECT_EQ(write("x"), StatusNoDevice);
}

TEST_F(StandInBridge, CallsWithoutAConnectionFail) {
    EXPECT_NE(write("x"), StatusOk);
    std::uint32_t status = 0;
    EXPECT_EQ(read(1, 10, &status), "");
    EXPECT_NE(status, StatusOk);
}

} // namespace
} // namespace mub
