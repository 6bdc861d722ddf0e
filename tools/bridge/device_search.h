// Finding the bridge's tty: by USB vendor and product id through sysfs, or
// the device named by the environment.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mub::bridge {

// The environment variable that names the device directly.
constexpr const char* deviceVariable = "BRIDGEMINI_DEVICE";

// /dev paths of the ttys whose USB device has these ids. `sysRoot` is the
// sysfs tty class folder ("/sys/class/tty" normally).
std::vector<std::string> findUsbTtys(std::uint32_t vendorId, std::uint32_t productId,
                                     const std::string& sysRoot = "/sys/class/tty");

} // namespace mub::bridge
