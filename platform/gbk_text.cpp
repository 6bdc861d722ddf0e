#include "platform/gbk_text.h"

#include <cerrno>
#include <iconv.h>

namespace mub {
namespace {

// Converts with iconv; an unconvertible or invalid sequence is skipped
// (`skip` bytes of input) and replaced by `replacement`.
std::string convert(const char* to, const char* from, std::string_view input,
                    std::string_view replacement, std::size_t skip) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(input);
    std::string out;
    out.reserve(input.size() * 2);
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    char buffer[256];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (rc == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL (truncated sequence at the end): replace and go on.
            out.append(replacement);
            std::size_t step = skip;
            if (skip == 0) {
                // UTF-8 input: skip one whole UTF-8 sequence.
                auto lead = static_cast<unsigned char>(*in);
                step = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            } else {
                // GBK input: a lead byte with a valid trail byte is one
                // (unmapped) character; anything else is a single bad byte.
                auto lead = static_cast<unsigned char>(in[0]);
                auto trail = inLeft > 1 ? static_cast<unsigned char>(in[1]) : 0;
                step = (lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F) ? 2 : 1;
            }
            if (step > inLeft) step = inLeft;
            in += step;
            inLeft -= step;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

unsigned char lowerAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

bool matchesIgnoringAsciiCase(std::string_view text, std::size_t at, std::string_view needle) {
    if (text.size() - at < needle.size()) return false;
    for (std::size_t k = 0; k < needle.size(); ++k)
        if (lowerAscii(static_cast<unsigned char>(text[at + k])) != lowerAscii(static_cast<unsigned char>(needle[k])))
            return false;
    return true;
}

} // namespace

std::string gbk(std::string_view utf8Text) { return convert("GBK", "UTF-8", utf8Text, "?", 0); }

std::string utf8(std::string_view gbkText) { return convert("UTF-8", "GBK", gbkText, "\xEF\xBF\xBD", 2); }

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
