#include "app/settings/port_overrides.h"

#include "platform/profile_file.h"

#include <string_view>

namespace mub {
namespace {

// 1..255 from "COM<n>"; 0 for any other name.
int portNumberOf(std::string_view key) {
    if (key.size() < 4 || key.size() > 6 || !sameProfileName(key.substr(0, 3), "COM")) return 0;
    std::string_view digits = key.substr(3);
    if (digits.front() == '0') return 0;
    int number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        number = number * 10 + (c - '0');
    }
    return number <= 255 ? number : 0;
}

} // namespace

std::map<int, std::string> readPortOverrides(const std::string& settingsPath) {
    std::map<int, std::string> overrides;
    for (const auto& [key, value] : readProfileSection(settingsPath, "Ports")) {
        int port = portNumberOf(key);
        if (port != 0) overrides.emplace(port, value); // emplace keeps the first
    }
    return overrides;
}

int loadPortOverrides(const std::string& settingsPath, PortTable& table) {
    std::map<int, std::string> overrides = readPortOverrides(settingsPath);
    for (const auto& [port, device] : overrides) table.setOverride(port, device);
    return static_cast<int>(overrides.size());
}

} // namespace mub
