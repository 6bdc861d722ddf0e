#include "link/port_access.h"

#include "platform/gbk_text.h"

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mub {

bool deviceDeniesAccess(const std::string& devicePath, std::string* ownerGroup) {
    if (devicePath.empty()) return false;
    struct stat info {};
    if (::stat(devicePath.c_str(), &info) != 0) return false;
    if (::access(devicePath.c_str(), R_OK | W_OK) == 0) return false;
    if (errno != EACCES && errno != EPERM) return false;
    if (ownerGroup) {
        struct group entry {};
        struct group* found = nullptr;
        char buffer[4096];
        if (::getgrgid_r(info.st_gid, &entry, buffer, sizeof buffer, &found) == 0 && found && found->gr_name)
            *ownerGroup = found->gr_name;
        else
            *ownerGroup = std::to_string(info.st_gid);
    }
    return true;
}

std::string permissionDeniedLine(const std::string& devicePath, const std::string& ownerGroup) {
    return gbk("没有权限打开串口设备 ") + devicePath + gbk("（属于用户组 ") + ownerGroup +
           gbk("），请把当前用户加入该组并重新登录。");
}

} // namespace mub
