// Finding the bridge's tty: by USB vendor and product id through sysfs, or
// the device named by the environment.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mub::bridge {

// The environment variable that names the device directly.
constexpr const char* deviceVariable = "BRIDGEMINI_DEVICE";
// Environment variables that name the tty class folder to search and the
// folder of the device nodes (tests and unusual set-ups).
constexpr const char* ttyClassVariable = "BRIDGEMINI_TTY_CLASS";
constexpr const char* devFolderVariable = "BRIDGEMINI_DEV_FOLDER";

// Device paths of the ttys whose USB device has these ids. `sysRoot` is the
// sysfs tty class folder, `devFolder` the folder of the device nodes.
std::vector<std::string> findUsbTtys(std::uint32_t vendorId, std::uint32_t productId,
                                     const std::string& sysRoot = "/sys/class/tty",
                                     const std::string& devFolder = "/dev");

} // namespace mub::bridge
