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

BridgeBinding::~BridgeBinding() { unload(); }

void BridgeBinding::unload() {
    delete fn_;
    fn_ = nullptr;
    if (handle_) ::dlclose(handle_);
    handle_ = nullptr;
}

namespace {
void* symbolOf(void* library, const char* name) { return ::dlsym(library, name); }
} // namespace

bool BridgeBinding::load(const std::string& path) {
    unload();
    error_.clear();
    path_ = path.empty() ? defaultBridgeLibraryPath() : path;
    if (::access(path_.c_str(), F_OK) != 0) {
        error_ = "bridge library not found: " + path_;
        return false;
    }
    void* handle = ::dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        error_ = "cannot load the bridge library " + path_ + ": " + (why ? why : "unknown error");
        return false;
    }
    if (!bindFunctions(handle, symbolOf)) {
        ::dlclose(handle);
        return false;
    }
    handle_ = handle;
    return true;
}

} // namespace mub
