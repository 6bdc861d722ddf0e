// Loading the bridge library with LoadLibraryW and GetProcAddress.
#include "link/bridge_functions.h"

#include "platform/gbk_text.h"
#include "platform/wide_text_windows.h"

#include <windows.h>

namespace mub {

const char* bridgeLibraryFileName() { return "BridgeMini.dll"; }

std::string programDirectory() {
    const std::string folder = programFileFolder();
    return folder == "." ? std::string() : folder + "\\";
}

std::string defaultBridgeLibraryPath() { return programDirectory() + bridgeLibraryFileName(); }

BridgeBinding::~BridgeBinding() { unload(); }

void BridgeBinding::unload() {
    delete fn_;
    fn_ = nullptr;
    if (handle_) ::FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

namespace {
template <typename Fn> bool lookUp(HMODULE library, const char* name, Fn& out, std::string& error) {
    FARPROC symbol = ::GetProcAddress(library, name);
    if (!symbol) {
        if (error.empty()) error = std::string("bridge library lacks the function ") + name;
        return false;
    }
    out = reinterpret_cast<Fn>(reinterpret_cast<void*>(symbol));
    return true;
}
} // namespace

bool BridgeBinding::load(const std::string& path) {
    unload();
    error_.clear();
    path_ = path.empty() ? defaultBridgeLibraryPath() : path;
    const std::wstring widePath = wideFromUtf8(path_);
    if (::GetFileAttributesW(widePath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        error_ = "bridge library not found: " + path_;
        return false;
    }
    // The library's own dependencies are looked for beside it, not in the
    // current folder.
    HMODULE library = ::LoadLibraryExW(widePath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library) {
        const DWORD code = ::GetLastError();
        error_ = "cannot load the bridge library " + path_ + ": error " + std::to_string(code) + " " +
                 utf8(systemErrorText(code));
        return false;
    }
    auto* fn = new Functions;
    bool ok = lookUp(library, BRIDGE_FN_CONNECT, fn->connect, error_);
    ok = lookUp(library, BRIDGE_FN_SET_MODE, fn->setMode, error_) && ok;
    ok = lookUp(library, BRIDGE_FN_CLEAR, fn->clear, error_) && ok;
    ok = lookUp(library, BRIDGE_FN_WRITE, fn->write, error_) && ok;
    ok = lookUp(library, BRIDGE_FN_READ, fn->read, error_) && ok;
    ok = lookUp(library, BRIDGE_FN_DISCONNECT, fn->disconnect, error_) && ok;
    if (!ok) {
        delete fn;
        ::FreeLibrary(library);
        return false;
    }
    handle_ = library;
    fn_ = fn;
    return true;
}

} // namespace mub
