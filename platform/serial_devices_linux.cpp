// Serial devices from sysfs, permissions from the device nodes and the group
// database, holders from /proc.
#include "platform/serial_devices.h"

#include "platform/port_access.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace mub {
namespace {

namespace fs = std::filesystem;

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

bool allDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The device behind a tty and its parents, nearest first.
std::vector<fs::path> deviceChain(const fs::path& sysRoot, const std::string& ttyName) {
    std::error_code error;
    fs::path device = fs::canonical(sysRoot / "class/tty" / ttyName / "device", error);
    const fs::path top = fs::weakly_canonical(sysRoot / "devices", error);
    std::vector<fs::path> chain;
    for (; device.has_relative_path() && device != top; device = device.parent_path()) chain.push_back(device);
    return chain;
}

} // namespace

// The serial core's own port and controller devices are skipped for the
// driver of the hardware under them.
void describeTty(const std::string& sysRoot, const std::string& ttyName, SerialDevice& device) {
    std::error_code error;
    for (const fs::path& node : deviceChain(sysRoot, ttyName)) {
        if (device.driver.empty() && fs::is_symlink(node / "driver", error)) {
            std::string name = fs::read_symlink(node / "driver", error).filename().string();
            if (name != "port" && name != "ctrl") device.driver = name;
        }
        if (fs::exists(node / "idVendor", error) && device.usbVendor.empty()) {
            device.usbVendor = firstLine(node / "idVendor");
            device.usbProduct = firstLine(node / "idProduct");
            device.usbName = firstLine(node / "product");
        }
    }
}

namespace {

// A tty of the serial core without a UART behind it (type 0: the legacy
// ttyS ports the kernel always makes) is no device to list.
bool hasHardware(const std::string& ttyName) {
    std::error_code error;
    fs::path entry = fs::path("/sys/class/tty") / ttyName;
    if (!fs::exists(entry / "device", error)) return false;
    fs::path type = entry / "type";
    return !fs::exists(type, error) || firstLine(type) != "0";
}

bool sessionHasGroup(gid_t gid) {
    if (::getegid() == gid) return true;
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(static_cast<std::size_t>(std::max(count, 0)));
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

bool userListedInGroup(const group& entry) {
    const passwd* user = ::getpwuid(::getuid());
    if (user == nullptr) return false;
    if (user->pw_gid == entry.gr_gid) return true;
    for (char** member = entry.gr_mem; member != nullptr && *member != nullptr; ++member)
        if (std::string(*member) == user->pw_name) return true;
    return false;
}

void describeAccess(SerialDevice& device) {
    if (!device.present) return;
    device.accessible = ::access(device.path.c_str(), R_OK | W_OK) == 0;
    struct stat info {};
    if (device.accessible || ::stat(device.path.c_str(), &info) != 0) return;
    device.joinGroup = groupGrantingAccess(info.st_gid, info.st_mode);
    if (device.joinGroup.empty()) return;
    const group* entry = ::getgrgid(info.st_gid);
    device.groupNeedsNewLogin = entry != nullptr && userListedInGroup(*entry) && !sessionHasGroup(info.st_gid);
}

std::string processName(pid_t pid) { return firstLine(fs::path("/proc") / std::to_string(pid) / "comm"); }

void addHolder(SerialDevice& device, pid_t pid) {
    for (const ProcessRef& known : device.heldBy)
        if (known.pid == pid) return;
    device.heldBy.push_back({pid, processName(pid)});
}

// Locks are listed for every process in /proc/locks (the upgrader and the
// bridge library lock the ports they use); open files only for the
// processes this user may look into.
void findHolders(std::vector<SerialDevice>& devices) {
    struct Key {
        unsigned major, minor;
        ino_t inode;
    };
    std::vector<std::pair<Key, SerialDevice*>> keys;
    for (SerialDevice& device : devices) {
        struct stat info {};
        if (device.present && ::stat(device.path.c_str(), &info) == 0)
            keys.push_back({{::major(info.st_dev), ::minor(info.st_dev), info.st_ino}, &device});
    }

    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        if (line.find("->") != std::string::npos) continue; // a waiter, not a holder
        std::istringstream fields(line);
        std::string id, kind, mode, access, where;
        long pid = 0;
        if (!(fields >> id >> kind >> mode >> access >> pid >> where) || pid <= 0) continue;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3) continue;
        for (auto& [key, device] : keys)
            if (key.major == major && key.minor == minor && key.inode == inode) addHolder(*device, static_cast<pid_t>(pid));
    }

    std::error_code error;
    const std::string self = std::to_string(::getpid());
    for (const auto& process : fs::directory_iterator("/proc", error)) {
        std::string pid = process.path().filename().string();
        if (!allDigits(pid) || pid == self) continue;
        std::error_code fdError;
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", fdError)) {
            std::error_code linkError;
            std::string target = fs::read_symlink(fd.path(), linkError).string();
            if (linkError) continue;
            for (SerialDevice& device : devices)
                if (device.present && target == device.path) addHolder(device, static_cast<pid_t>(std::atol(pid.c_str())));
        }
    }
}

SerialDevice describe(const std::string& path) {
    SerialDevice device;
    device.path = path;
    std::error_code error;
    device.present = fs::exists(path, error);
    if (path.rfind("/dev/pts/", 0) == 0) device.driver = "pty";
    else describeTty("/sys", fs::path(path).filename().string(), device);
    return device;
}

} // namespace

std::vector<SerialDevice> listSerialDevices(const std::vector<std::string>& extraPaths) {
    std::vector<std::string> paths;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/sys/class/tty", error)) {
        std::string name = entry.path().filename().string();
        if (hasHardware(name) && fs::exists("/dev/" + name, error)) paths.push_back("/dev/" + name);
    }
    for (const std::string& extra : extraPaths) {
        std::error_code canonicalError;
        fs::path real = fs::canonical(extra, canonicalError);
        paths.push_back(canonicalError ? extra : real.string());
    }
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());

    std::vector<SerialDevice> devices;
    for (const std::string& path : paths) devices.push_back(describe(path));
    for (SerialDevice& device : devices) describeAccess(device);
    findHolders(devices);
    return devices;
}

std::vector<PortGrabber> runningPortGrabbers() {
    struct Known {
        const char* name;
        const char* advice;
    };
    static const Known known[] = {
        {"brltty", "a braille-display service is running; it claims some USB-serial adapters as braille displays, "
                   "so their device disappears after a few seconds: remove it if no braille display is used"},
        {"ModemManager", "a modem manager is running; it probes new serial ports and can hold them for seconds: "
                         "the installed package tells it to leave the bridge alone, and ID_MM_DEVICE_IGNORE in a "
                         "udev rule does the same for another adapter"},
    };
    std::vector<PortGrabber> found;
    std::error_code error;
    for (const auto& process : fs::directory_iterator("/proc", error)) {
        std::string pid = process.path().filename().string();
        if (!allDigits(pid)) continue;
        std::string name = firstLine(process.path() / "comm");
        for (const Known& k : known)
            if (name == k.name) found.push_back({{static_cast<pid_t>(std::atol(pid.c_str())), name}, k.advice});
    }
    return found;
}

} // namespace mub
