// Windows has no device groups: a port another program holds, or one this
// user may not open, fails its open with the system's own code, which the
// serial channel reports.
#include "platform/port_access.h"

#include "platform/gbk_text.h"

namespace mub {

bool deviceDeniesAccess(const std::string&, std::string*) { return false; }

std::string permissionDeniedLine(const std::string& devicePath, const std::string&) {
    return gbk("没有权限打开串口 ") + devicePath;
}

} // namespace mub
