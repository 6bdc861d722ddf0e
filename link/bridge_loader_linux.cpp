// Loading the bridge library with dlopen.
#include "link/bridge_functions.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace mub {

const char* bridgeLibraryFileName() { return "libBridgeMini.so"; }

std::string programDirectory() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    std::string path(buffer, static_cast<std::size_t>(n));
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string defaultBridgeLibraryPath() { return programDirectory() + bridgeLibraryFileName(); }

namespace {
void* symbolOf(void* library, const char* name) { return ::dlsym(library, name); }
} // namespace

bool BridgeBinding::load(const std::string& path) {
    start(path);
    const std::string name = fileName();
    if (::access(path_.c_str(), F_OK) != 0) {
        fail(BridgeLoadFailure::NotFound, "bridge library not found: " + path_,
             "无法启动此程序，因为该计算机中丢失" + name + "文件！请重新安装该程序。");
        return false;
    }
    void* handle = ::dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        const std::string reason = why ? why : "unknown error";
        fail(BridgeLoadFailure::Other, "cannot load the bridge library " + path_ + ": " + reason,
             "无法加载" + name + "（" + reason + "）。");
        return false;
    }
    if (!bindFunctions(handle, symbolOf)) {
        // Nothing of it was called yet.
        ::dlclose(handle);
        return false;
    }
    return settleConvention();
}

} // namespace mub
