// Why a serial device could not be opened, in terms the operator can act on.
#pragma once

#include <string>

namespace mub {

// When `devicePath` exists but this process may not open it for reading and
// writing: true, with `grantingGroup` set to the group whose members may
// (see groupGrantingAccess), "" when joining no group helps. False when the
// device is missing or accessible.
bool deviceDeniesAccess(const std::string& devicePath, std::string* grantingGroup);

// The group that grants read and write access to a device of this owner
// group and mode: its name (its number when it has none); "" when joining no
// group helps, because the group may not both read and write it or it is
// the root group, which is nobody's to join. (Linux)
std::string groupGrantingAccess(unsigned groupId, unsigned mode);

// The line added to the search time-out box (GBK): names the device and,
// when there is one, the group to join; otherwise says that an administrator
// has to grant access.
std::string permissionDeniedLine(const std::string& devicePath, const std::string& grantingGroup);

} // namespace mub
