// Why a serial device could not be opened, in terms the operator can act on.
#pragma once

#include <string>

namespace mub {

// When `devicePath` exists but this process may not open it for reading and
// writing, the name of the group that owns it ("" when the group has no
// name, then its number). Nothing (false) when the device is missing or
// accessible.
bool deviceDeniesAccess(const std::string& devicePath, std::string* ownerGroup);

// The line added to the search time-out box (GBK): names the device and its
// group, and says how to get access.
std::string permissionDeniedLine(const std::string& devicePath, const std::string& ownerGroup);

} // namespace mub
