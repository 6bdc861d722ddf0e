#include "platform/port_access.h"

#include "platform/gbk_text.h"

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mub {

std::string groupGrantingAccess(unsigned groupId, unsigned mode) {
    if (groupId == 0 || (mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) return {};
    struct group entry {};
    struct group* found = nullptr;
    char buffer[4096];
    if (::getgrgid_r(static_cast<gid_t>(groupId), &entry, buffer, sizeof buffer, &found) == 0 && found &&
        found->gr_name)
        return found->gr_name;
    return std::to_string(groupId);
}

bool deviceDeniesAccess(const std::string& devicePath, std::string* grantingGroup) {
    if (devicePath.empty()) return false;
    struct stat info {};
    if (::stat(devicePath.c_str(), &info) != 0) return false;
    if (::access(devicePath.c_str(), R_OK | W_OK) == 0) return false;
    if (errno != EACCES && errno != EPERM) return false;
    if (grantingGroup) *grantingGroup = groupGrantingAccess(info.st_gid, info.st_mode);
    return true;
}

std::string permissionDeniedLine(const std::string& devicePath, const std::string& grantingGroup) {
    if (grantingGroup.empty())
        return gbk("没有权限打开串口设备 ") + devicePath +
               gbk("，请管理员为当前用户开放该设备的读写权限（例如用 udev 规则）。");
    return gbk("没有权限打开串口设备 ") + devicePath + gbk("（属于用户组 ") + grantingGroup +
           gbk("），请把当前用户加入该组并重新登录。");
}

} // namespace mub
