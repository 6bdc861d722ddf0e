// The doctor's questions to Linux: uname and the distribution, the steady
// clock's resolution, the serial devices as `mubtool ports` lists them.
#include "tools/mubtool/doctor_system.h"

#include "app/settings/port_overrides.h"
#include "link/bridge_binding.h"
#include "platform/bridge_library.h"
#include "platform/gbk_text.h"
#include "platform/serial_devices.h"
#include "platform/serial_port_services.h"
#include "serial/port_table.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/ioctl.h>
#include <sys/utsname.h>
#include <termios.h>
#include <unistd.h>

namespace mub::tool {
namespace {

// PRETTY_NAME of /etc/os-release ("Debian GNU/Linux 12 (bookworm)").
std::string distribution() {
    std::ifstream in("/etc/os-release");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
        std::string value = line.substr(12);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')) value = value.substr(1, value.size() - 2);
        return value;
    }
    return {};
}

// Device path -> "COM<n>": the lowest number whose device it is, as the
// port search meets them.
std::map<std::string, std::string> comNames(const PortTable& table) {
    std::map<std::string, std::string> names;
    for (int port = 1; port <= 255; ++port) {
        const std::string path = table.devicePath(port);
        if (path.empty()) continue;
        std::error_code error;
        const std::filesystem::path real = std::filesystem::canonical(path, error);
        names.emplace(error ? path : real.string(), "COM" + std::to_string(port));
    }
    return names;
}

std::string adapterText(const SerialDevice& device) {
    if (device.usbVendor.empty()) return {};
    std::string text = device.usbVendor + ":" + device.usbProduct;
    if (!device.usbName.empty()) text += " " + device.usbName;
    BridgeParams ids;
    char vendor[8], product[8];
    std::snprintf(vendor, sizeof vendor, "%04x", static_cast<unsigned>(ids.words[0]));
    std::snprintf(product, sizeof product, "%04x", static_cast<unsigned>(ids.words[1]));
    if (device.usbVendor == vendor && device.usbProduct == product) text += " (bridge)";
    return text;
}

// An exclusive open (TIOCEXCL) of another program's keeps out everyone but
// root: root's open would pass it, and the close would end it.
bool heldExclusively(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    int exclusive = 0;
    const bool known = ::ioctl(fd, TIOCGEXCL, &exclusive) == 0;
    ::close(fd);
    return known && exclusive != 0;
}

} // namespace

SystemFacts systemFacts() {
    SystemFacts facts;
    utsname names{};
    if (::uname(&names) == 0) {
        facts.name = names.sysname;
        facts.version = names.release;
        facts.machine = names.machine;
    } else {
        facts.name = "Linux";
    }
    facts.detail = distribution();
    facts.processBits = static_cast<int>(sizeof(void*) * 8);
    return facts;
}

TimerFacts systemTimerFacts() {
    TimerFacts facts;
    timespec resolution{};
    if (::clock_getres(CLOCK_MONOTONIC, &resolution) == 0)
        facts.clockResolutionMs = static_cast<double>(resolution.tv_sec) * 1e3 + static_cast<double>(resolution.tv_nsec) / 1e6;
    facts.highResolutionNote = "a Windows timer; Linux sleeps on high-resolution timers";
    return facts;
}

std::vector<PortCheck> listPorts(const std::vector<std::string>& extra, const std::string& settingsPath) {
    PortTable table;
    std::vector<std::string> named = extra;
    for (const auto& [port, device] : readPortOverrides(settingsPath)) {
        table.setOverride(port, device);
        if (!device.empty()) named.push_back(device);
    }
    const std::map<std::string, std::string> names = comNames(table);
    std::vector<PortCheck> ports;
    for (const SerialDevice& d : listSerialDevices(named)) {
        PortCheck p;
        const auto name = names.find(d.path);
        if (name != names.end()) p.port = name->second;
        p.device = d.path;
        p.driver = d.driver;
        p.adapter = adapterText(d);
        p.present = d.present;
        for (const ProcessRef& holder : d.heldBy) p.heldBy.push_back(std::to_string(holder.pid) + " (" + holder.name + ")");
        if (d.present && !d.accessible && !d.joinGroup.empty())
            p.advice = d.groupNeedsNewLogin ? "log in again (joined " + d.joinGroup + ")" : "join the group " + d.joinGroup;
        ports.push_back(std::move(p));
    }
    // In the order of the port search; devices without a COM name last.
    auto number = [](const PortCheck& p) { return p.port.empty() ? 256 : std::stoi(p.port.substr(3)); };
    std::stable_sort(ports.begin(), ports.end(), [&number](const PortCheck& a, const PortCheck& b) { return number(a) < number(b); });
    return ports;
}

std::vector<std::string> portNotes() {
    std::vector<std::string> notes;
    for (const PortGrabber& g : runningPortGrabbers())
        notes.push_back(g.process.name + " (pid " + std::to_string(g.process.pid) + "): " + g.advice);
    return notes;
}

bool mayOpen(PortCheck& port) {
    if (!port.present) {
        port.open = PortOpen::Missing;
        return false;
    }
    if (::geteuid() == 0 && !port.heldBy.empty() && heldExclusively(port.device)) {
        port.open = PortOpen::Busy;
        port.error = "another program opened it for itself";
        return false;
    }
    return true;
}

PortOpen openOutcomeOf(int code) {
    switch (code) {
    case 0: return PortOpen::Opened;
    case EBUSY: return PortOpen::Busy;
    case EACCES:
    case EPERM: return PortOpen::Denied;
    case ENOENT:
    case ENXIO:
    case ENODEV: return PortOpen::Missing;
    }
    return PortOpen::Failed;
}

std::string openErrorText(int code) { return utf8(systemSerialPortServices().errorMessage(code)); }

std::optional<std::vector<std::uint8_t>> readFileStart(const std::string& path, std::size_t size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::vector<std::uint8_t> bytes(size);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, bytes.data() + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(got);
    return bytes;
}

void* loadedLibrary(const std::string& path) { return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

void* librarySymbol(void* library, const char* name) { return ::dlsym(library, name); }

std::string reportFileBytes(const std::string& utf8Text, bool) { return utf8Text; }

} // namespace mub::tool
