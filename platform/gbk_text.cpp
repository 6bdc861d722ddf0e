#include "platform/gbk_text.h"

namespace mub {
namespace {

unsigned char lowerAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

bool matchesIgnoringAsciiCase(std::string_view text, std::size_t at, std::string_view needle) {
    if (text.size() - at < needle.size()) return false;
    for (std::size_t k = 0; k < needle.size(); ++k)
        if (lowerAscii(static_cast<unsigned char>(text[at + k])) != lowerAscii(static_cast<unsigned char>(needle[k])))
            return false;
    return true;
}

} // namespace

std::size_t findGbk(std::string_view text, std::string_view needle, std::size_t from) {
    if (needle.empty()) return std::string_view::npos;
    std::size_t i = 0;
    while (i < from && i < text.size()) i += gbkCharLength(static_cast<unsigned char>(text[i]));
    for (; i < text.size(); i += gbkCharLength(static_cast<unsigned char>(text[i])))
        if (text[i] == needle[0] && text.compare(i, needle.size(), needle) == 0) return i;
    return std::string_view::npos;
}

std::string removeAllIgnoringAsciiCase(std::string_view text, std::string_view needle) {
    if (needle.empty()) return std::string(text);
    // Copies the text between matches in runs: an image line of megabytes
    // passes through here.
    std::string out;
    out.reserve(text.size());
    const unsigned char firstLower = lowerAscii(static_cast<unsigned char>(needle[0]));
    const unsigned char firstUpper =
        (firstLower >= 'a' && firstLower <= 'z') ? static_cast<unsigned char>(firstLower - 32) : firstLower;
    std::size_t runStart = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        auto c = static_cast<unsigned char>(text[i]);
        if ((c == firstLower || c == firstUpper) && matchesIgnoringAsciiCase(text, i, needle)) {
            out.append(text.substr(runStart, i - runStart));
            i += needle.size();
            runStart = i;
            continue;
        }
        i += gbkCharLength(c);
    }
    if (runStart < text.size()) out.append(text.substr(runStart));
    return out;
}

std::string_view lastBytes(std::string_view text, std::size_t n) {
    return text.size() <= n ? text : text.substr(text.size() - n);
}

std::string_view upToFirstNul(std::string_view bytes) {
    std::size_t nul = bytes.find('\0');
    return nul == std::string_view::npos ? bytes : bytes.substr(0, nul);
}

} // namespace mub
