// The USB serial ports this user may open, as `mubtool ports` shows them
// (never a port built into the computer): device paths on Linux, COMn on
// Windows. A station given `--ports usb` uses these.
#pragma once

#include <string>
#include <vector>

namespace mub {

std::vector<std::string> usableUsbSerialPorts();

} // namespace mub
