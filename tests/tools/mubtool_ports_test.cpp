// mubtool ports, run as a user who is not root against pseudo-terminals
// mapped in [Ports]: the access and held-by columns, and the note about a
// port-grabbing service; the adapter columns from a made-up sysfs tree.
#include "platform/serial_devices.h"
#include "tests/link/raw_pty.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace mub {
namespace {

namespace fs = std::filesystem;

// A child that ends with the test.
struct Child {
    pid_t pid = -1;
    ~Child() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

std::string output(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

// Waits until process `pid` runs the program `name`.
void waitForProgram(pid_t pid, const std::string& name) {
    for (int i = 0; i < 100 && output("cat /proc/" + std::to_string(pid) + "/comm") != name + "\n"; ++i) ::usleep(20000);
}

// The JSON object of one device in the output of --json.
std::string entryOf(const std::string& json, const std::string& device) {
    std::size_t at = json.find("\"device\": \"" + device + "\"");
    if (at == std::string::npos) return {};
    std::size_t begin = json.rfind("{\"port\"", at);
    std::size_t end = json.find("]}", at);
    return json.substr(begin, end + 2 - begin);
}

TEST(MubtoolPorts, AccessAndHoldersAsAnotherUser) {
    if (::getuid() != 0) GTEST_SKIP() << "acting as another user needs root";
    const passwd* nobody = ::getpwnam("nobody");
    const group* dialout = ::getgrnam("dialout");
    ASSERT_TRUE(nobody && dialout);
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;

    test::TempFolder folder;
    fs::permissions(folder.root(), fs::perms(0755));
    fs::copy_file(fs::path(std::getenv("MUB_BIN_DIR")) / "mubtool", folder.path("mubtool"));

    test::RawPty open, locked, idle;
    ::chmod(open.path.c_str(), 0666);
    ::chmod(idle.path.c_str(), 0666);
    ASSERT_EQ(::chown(locked.path.c_str(), 0, dialout->gr_gid), 0);
    ::chmod(locked.path.c_str(), 0660);
    // Held by a lock of root's (seen by anyone) ...
    int lockedFd = ::open(locked.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(lockedFd, LOCK_EX | LOCK_NB), 0);
    // ... and open in a process of the user's own.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    Child holder;
    holder.pid = ::fork();
    if (holder.pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(1);
        int fd = ::open(open.path.c_str(), O_RDWR | O_NOCTTY);
        (void)!::write(ready[1], fd >= 0 ? "y" : "n", 1);
        // A program started by the user (after a change of user only a new
        // program may be looked into by that user).
        ::execl("/bin/sleep", "sleep", "60", static_cast<char*>(nullptr));
        ::_exit(1);
    }
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ASSERT_EQ(answer, 'y');
    // A service known to take ports (its process name is what counts).
    fs::copy_file("/bin/sleep", folder.path("brltty"));
    Child service;
    service.pid = ::fork();
    if (service.pid == 0) {
        ::execl(folder.path("brltty").c_str(), "brltty", "60", static_cast<char*>(nullptr));
        ::_exit(1);
    }

    folder.write("cfg.ini", "[Ports]\r\nCOM1=" + open.path + "\r\nCOM2=" + locked.path + "\r\nCOM3=" + idle.path +
                                "\r\nCOM4=/dev/pts/999999\r\n");
    std::string asNobody = "setpriv --reuid=" + std::to_string(uid) + " --regid=" + std::to_string(gid) +
                           " --clear-groups " + folder.path("mubtool") + " ports --settings " + folder.path("cfg.ini");
    waitForProgram(holder.pid, "sleep");
    waitForProgram(service.pid, "brltty");
    std::string json = output(asNobody + " --json");

    std::string a = entryOf(json, open.path);
    EXPECT_NE(a.find("\"port\": \"COM1\""), std::string::npos) << json;
    EXPECT_NE(a.find("\"driver\": \"pty\""), std::string::npos) << a;
    EXPECT_NE(a.find("\"accessible\": true"), std::string::npos) << a;
    EXPECT_NE(a.find("{\"pid\": " + std::to_string(holder.pid) + ","), std::string::npos) << a;

    std::string b = entryOf(json, locked.path);
    EXPECT_NE(b.find("\"port\": \"COM2\""), std::string::npos) << json;
    EXPECT_NE(b.find("\"accessible\": false, \"joinGroup\": \"dialout\""), std::string::npos) << b;
    EXPECT_NE(b.find("\"heldBy\": [{\"pid\": " + std::to_string(::getpid()) + ","), std::string::npos) << b;

    std::string c = entryOf(json, idle.path);
    EXPECT_NE(c.find("\"accessible\": true"), std::string::npos) << c;
    EXPECT_NE(c.find("\"heldBy\": []"), std::string::npos) << c;

    EXPECT_NE(entryOf(json, "/dev/pts/999999").find("\"present\": false"), std::string::npos) << json;
    EXPECT_NE(json.find("\"services\": [{\"pid\": " + std::to_string(service.pid) + ", \"name\": \"brltty\""),
              std::string::npos)
        << json;

    // The table says the same in words.
    std::string table = output(asNobody);
    EXPECT_NE(table.find("no: join dialout"), std::string::npos) << table;
    EXPECT_NE(table.find("note: brltty (pid " + std::to_string(service.pid) + ")"), std::string::npos) << table;
    ::close(lockedFd);
}

TEST(SerialDevices, DriverAndUsbIdsComeFromTheDeviceAndItsParents) {
    test::TempFolder sys;
    auto link = [&sys](const std::string& target, const std::string& name) {
        fs::create_directories(fs::path(sys.path(name)).parent_path());
        fs::create_directory_symlink(target, sys.path(name));
    };
    // A USB-serial adapter: the driver at the tty's device, the ids two levels up.
    const std::string usb = "devices/pci0000:00/usb1/1-1";
    sys.makeFolder(usb + "/1-1:1.0/ttyUSB0");
    sys.makeFolder("bus/usb-serial/drivers/ch341");
    sys.write(usb + "/idVendor", "0e6a\n");
    sys.write(usb + "/idProduct", "0103\n");
    sys.write(usb + "/product", "USB Bridge\n");
    link(sys.path("bus/usb-serial/drivers/ch341"), usb + "/1-1:1.0/ttyUSB0/driver");
    link(sys.path(usb + "/1-1:1.0/ttyUSB0"), "class/tty/ttyUSB0/device");
    // A UART of the serial core: its port and controller devices are passed over.
    const std::string uart = "devices/pnp0/00:00";
    sys.makeFolder(uart + "/00:00:0/00:00:0.0");
    for (const char* driver : {"port", "ctrl", "serial"}) sys.makeFolder(std::string("bus/drivers/") + driver);
    link(sys.path("bus/drivers/port"), uart + "/00:00:0/00:00:0.0/driver");
    link(sys.path("bus/drivers/ctrl"), uart + "/00:00:0/driver");
    link(sys.path("bus/drivers/serial"), uart + "/driver");
    link(sys.path(uart + "/00:00:0/00:00:0.0"), "class/tty/ttyS0/device");

    SerialDevice adapter;
    describeTty(sys.root(), "ttyUSB0", adapter);
    EXPECT_EQ(adapter.driver, "ch341");
    EXPECT_EQ(adapter.usbVendor + ":" + adapter.usbProduct + " " + adapter.usbName, "0e6a:0103 USB Bridge");
    SerialDevice onBoard;
    describeTty(sys.root(), "ttyS0", onBoard);
    EXPECT_EQ(onBoard.driver, "serial");
    EXPECT_EQ(onBoard.usbVendor, "");
}

} // namespace
} // namespace mub
