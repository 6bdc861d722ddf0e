#include "app/settings/settings_file.h"
#include "app/settings/settings_location.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace mub {

std::string programFolder() {
    std::string buffer(PATH_MAX, '\0');
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) return ".";
    buffer.resize(static_cast<std::size_t>(n));
    std::size_t slash = buffer.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : buffer.substr(0, slash);
}

std::string userConfigFolder() { return userConfigFolder(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")); }

bool folderWritable(const std::string& folder) { return ::access(folder.c_str(), W_OK) == 0; }

} // namespace mub
