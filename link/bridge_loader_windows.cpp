// Loading the bridge library with LoadLibraryW and GetProcAddress, after a
// look at the file's PE header: a library built for the other width of
// program is named as such instead of the loader's bare error 193.
#include "link/bridge_functions.h"

#include "platform/gbk_text.h"
#include "platform/wide_text_windows.h"

#include <windows.h>

#include <cstdint>

namespace mub {

const char* bridgeLibraryFileName() { return "BridgeMini.dll"; }

std::string programDirectory() {
    const std::string folder = programFileFolder();
    return folder == "." ? std::string() : folder + "\\";
}

std::string defaultBridgeLibraryPath() { return programDirectory() + bridgeLibraryFileName(); }

namespace {

void* symbolOf(void* library, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

constexpr WORD machineI386 = 0x014C;
constexpr WORD machineAmd64 = 0x8664;
constexpr WORD machineArm64 = 0xAA64;
constexpr WORD ownMachine = sizeof(void*) == 4 ? machineI386 : machineAmd64;

// The machine field of the PE file at `path`; 0 when the file is not a PE
// file (or cannot be read).
WORD machineOf(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    unsigned char header[4096] = {};
    DWORD got = 0;
    const BOOL read = ::ReadFile(file, header, sizeof header, &got, nullptr);
    ::CloseHandle(file);
    if (!read || got < 0x40 || header[0] != 'M' || header[1] != 'Z') return 0;
    const std::uint32_t pe = header[0x3C] | header[0x3D] << 8 | header[0x3E] << 16 | std::uint32_t{header[0x3F]} << 24;
    if (pe > got - 6 || header[pe] != 'P' || header[pe + 1] != 'E' || header[pe + 2] || header[pe + 3]) return 0;
    return static_cast<WORD>(header[pe + 4] | header[pe + 5] << 8);
}

int bitsOf(WORD machine) { return machine == machineI386 ? 32 : 64; }

} // namespace

bool BridgeBinding::load(const std::string& path) {
    start(path);
    // The loader wants backslashes.
    for (char& c : path_)
        if (c == '/') c = '\\';
    const std::wstring widePath = wideFromUtf8(path_);
    const std::string name = fileName();
    const DWORD attributes = ::GetFileAttributesW(widePath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        fail(BridgeLoadFailure::NotFound, "bridge library not found: " + path_,
             "无法启动此程序，因为该计算机中丢失" + name + "文件！请重新安装该程序。");
        return false;
    }

    const WORD machine = machineOf(widePath);
    if (machine == 0) {
        fail(BridgeLoadFailure::NotALibrary, "the bridge library " + path_ + " is not a Windows library",
             name + "不是有效的Windows动态链接库，无法加载。\r\n请重新安装USB桥接库。");
        return false;
    }
    if (machine != ownMachine) {
        const int libraryBits = machine == machineArm64 ? 0 : bitsOf(machine);
        const int programBits = bitsOf(ownMachine);
        const std::string what = libraryBits ? std::to_string(libraryBits) + "-bit" : "ARM";
        const std::string whatCn = libraryBits ? std::to_string(libraryBits) + "位" : "ARM";
        const std::string build = libraryBits == 64 ? "win64" : "win32";
        fail(BridgeLoadFailure::WrongBitness,
             "the bridge library " + path_ + " is a " + what + " library; this program is " +
                 std::to_string(programBits) + "-bit" +
                 (libraryBits ? ": use the " + std::to_string(libraryBits) + "-bit build (" + build + ")" : ""),
             name + "是" + whatCn + "的库，而本程序是" + std::to_string(programBits) + "位的，无法加载。\r\n" +
                 (libraryBits ? "请使用" + std::to_string(libraryBits) + "位的升级工具（" + build + "版）。"
                              : "请使用与本程序相同位数的USB桥接库。"));
        return false;
    }

    // By its full path: beside the program, whose folder is also where the
    // library's own dependencies are looked for first. No system box for a
    // missing dependency: the operator gets the program's own.
    DWORD previousMode = 0;
    const bool quiet = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode) != FALSE;
    HMODULE library = ::LoadLibraryW(widePath.c_str());
    const DWORD code = library ? 0 : ::GetLastError();
    if (quiet) ::SetThreadErrorMode(previousMode, nullptr);
    if (!library) {
        const std::string system = systemErrorText(code); // GBK
        const std::string codeText = std::to_string(code);
        if (code == ERROR_MOD_NOT_FOUND) {
            fail(BridgeLoadFailure::MissingDependency,
                 "cannot load the bridge library " + path_ + ": a library it needs is missing (error 126)",
                 "无法加载" + name + "：它所需要的其他DLL文件缺失（错误126）。\r\n请安装USB桥接库附带的运行库，"
                 "或把它们放在本程序旁边。");
        } else if (code == ERROR_BAD_EXE_FORMAT) {
            fail(BridgeLoadFailure::NotALibrary, "the bridge library " + path_ + " is not a valid library (error 193)",
                 name + "不是有效的Windows动态链接库，无法加载（错误193）。\r\n请重新安装USB桥接库。");
        } else {
            fail(BridgeLoadFailure::Other,
                 "cannot load the bridge library " + path_ + ": error " + codeText + " " + utf8(system),
                 "无法加载" + name + "（错误" + codeText + "：" + utf8(system) + "）。");
        }
        return false;
    }
    if (!bindFunctions(library, symbolOf)) {
        // Nothing of it was called yet.
        ::FreeLibrary(library);
        return false;
    }
    return settleConvention();
}

} // namespace mub
