// GBK <-> UTF-8 through the system's code page 936 and UTF-16.
#include "platform/gbk_text.h"

#include <windows.h>

#include <string>

namespace mub {
namespace {

constexpr UINT gbkCodePage = 936;
constexpr wchar_t replacementChar = 0xFFFD;

std::wstring wideFrom(UINT codePage, DWORD flags, std::string_view bytes, bool* failed = nullptr) {
    if (bytes.empty()) return {};
    const int length = static_cast<int>(bytes.size());
    int n = ::MultiByteToWideChar(codePage, flags, bytes.data(), length, nullptr, 0);
    if (n <= 0) {
        if (failed) *failed = true;
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, flags, bytes.data(), length, wide.data(), n);
    return wide;
}

std::string bytesFrom(UINT codePage, std::wstring_view wide, const char* defaultChar) {
    if (wide.empty()) return {};
    const int length = static_cast<int>(wide.size());
    int n = ::WideCharToMultiByte(codePage, 0, wide.data(), length, nullptr, 0, defaultChar, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(codePage, 0, wide.data(), length, out.data(), n, defaultChar, nullptr);
    return out;
}

bool isLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
bool isTrail(unsigned char c) { return c >= 0x40 && c <= 0xFE && c != 0x7F; }

// A run of ASCII bytes and well-formed two-byte characters; a character the
// code page does not map becomes U+FFFD, one per character.
void appendRun(std::wstring& out, std::string_view run) {
    bool failed = false;
    std::wstring wide = wideFrom(gbkCodePage, MB_ERR_INVALID_CHARS, run, &failed);
    if (!failed) {
        out += wide;
        return;
    }
    for (std::size_t i = 0; i < run.size();) {
        const std::size_t length = gbkCharLength(static_cast<unsigned char>(run[i]));
        bool bad = false;
        std::wstring one = wideFrom(gbkCodePage, MB_ERR_INVALID_CHARS, run.substr(i, length), &bad);
        out += bad ? std::wstring(1, replacementChar) : one;
        i += length;
    }
}

} // namespace

std::string gbk(std::string_view utf8Text) {
    // Invalid UTF-8 turns into U+FFFD; characters outside the BMP (a
    // surrogate pair) and all others GBK cannot hold become one '?' each.
    std::wstring wide = wideFrom(CP_UTF8, 0, utf8Text);
    std::wstring bmp;
    bmp.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const wchar_t c = wide[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        if (high && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) ++i;
        bmp += (c >= 0xD800 && c <= 0xDFFF) || c == replacementChar ? L'?' : c;
    }
    return bytesFrom(gbkCodePage, bmp, "?");
}

std::string utf8(std::string_view gbkText) {
    // Well-formed stretches are converted in one call; a byte that cannot
    // start a character, or a lead byte without its trail byte, is U+FFFD.
    std::wstring wide;
    wide.reserve(gbkText.size());
    std::size_t runStart = 0;
    std::size_t i = 0;
    while (i < gbkText.size()) {
        const auto c = static_cast<unsigned char>(gbkText[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (isLead(c) && i + 1 < gbkText.size() && isTrail(static_cast<unsigned char>(gbkText[i + 1]))) {
            i += 2;
            continue;
        }
        appendRun(wide, gbkText.substr(runStart, i - runStart));
        wide += replacementChar;
        runStart = ++i;
    }
    appendRun(wide, gbkText.substr(runStart));
    return bytesFrom(CP_UTF8, wide, nullptr);
}

} // namespace mub
