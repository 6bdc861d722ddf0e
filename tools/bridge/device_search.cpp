#include "tools/bridge/device_search.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace mub::bridge {

namespace {

bool readHex(const std::string& path, std::uint32_t* value) {
    std::ifstream in(path);
    std::string text;
    if (!(in >> text)) return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, 16);
    if (end == text.c_str()) return false;
    *value = static_cast<std::uint32_t>(v);
    return true;
}

// Walks up from the tty's device folder to the USB device that carries the
// ids: one level for CDC-ACM ports (interface), two for usb-serial ports.
bool usbIdsOf(const std::string& ttyFolder, std::uint32_t* vendor, std::uint32_t* product) {
    // Only devices on a USB bus carry the ids. The class entry links to the
    // device's place in the tree, so one readlink tells, and on-board UARTs
    // and consoles are passed over without walking their folders.
    char link[PATH_MAX];
    ssize_t n = ::readlink(ttyFolder.c_str(), link, sizeof link - 1);
    if (n > 0 && std::string(link, static_cast<std::size_t>(n)).find("/usb") == std::string::npos) return false;
    char resolved[PATH_MAX];
    if (!::realpath((ttyFolder + "/device").c_str(), resolved)) return false;
    std::string dir = resolved;
    for (int level = 0; level < 5 && dir.size() > 1; ++level) {
        if (readHex(dir + "/idVendor", vendor) && readHex(dir + "/idProduct", product)) return true;
        auto slash = dir.rfind('/');
        if (slash == std::string::npos || slash == 0) break;
        dir.resize(slash);
    }
    return false;
}

} // namespace

std::vector<std::string> findUsbTtys(std::uint32_t vendorId, std::uint32_t productId, const std::string& sysRoot,
                                     const std::string& devFolder) {
    std::vector<std::string> found;
    DIR* dir = ::opendir(sysRoot.c_str());
    if (!dir) return found;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::uint32_t vendor = 0, product = 0;
        if (usbIdsOf(sysRoot + "/" + name, &vendor, &product) && vendor == vendorId && product == productId)
            found.push_back(devFolder + "/" + name);
    }
    ::closedir(dir);
    return found;
}

} // namespace mub::bridge
