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
void* symbolOf(void* library, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
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
    // By its full path: beside the program, whose folder is also where the
    // library's own dependencies are looked for first.
    HMODULE library = ::LoadLibraryW(widePath.c_str());
    if (!library) {
        const DWORD code = ::GetLastError();
        error_ = "cannot load the bridge library " + path_ + ": error " + std::to_string(code) + " " +
                 utf8(systemErrorText(code));
        return false;
    }
    if (!bindFunctions(library, symbolOf)) {
        ::FreeLibrary(library);
        return false;
    }
    handle_ = library;
    return true;
}

} // namespace mub
