#include "platform/wide_text_windows.h"

#include "platform/gbk_text.h"

#include <windows.h>

namespace mub {

std::wstring wideFromUtf8(std::string_view utf8Text) {
    if (utf8Text.empty()) return {};
    const int length = static_cast<int>(utf8Text.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8Text.data(), length, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8Text.data(), length, wide.data(), n);
    return wide;
}

std::string utf8FromWide(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int length = static_cast<int>(wide.size());
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, out.data(), n, nullptr, nullptr);
    return out;
}

std::string systemErrorText(unsigned long code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = n > 0 && text ? std::wstring(text, n) : std::wstring();
    if (text) ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' '))
        message.pop_back();
    return gbk(utf8FromWide(message));
}

std::string programFileFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return ".";
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return ".";
    return utf8FromWide(std::wstring_view(path).substr(0, slash));
}

} // namespace mub
