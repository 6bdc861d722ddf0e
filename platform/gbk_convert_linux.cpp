// GBK <-> UTF-8 with iconv.
#include "platform/gbk_text.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace mub {
namespace {

// Converts with iconv; an unconvertible or invalid sequence is skipped
// (`skip` bytes of input) and replaced by `replacement`.
std::string convert(const char* to, const char* from, std::string_view input,
                    std::string_view replacement, std::size_t skip) {
    // ASCII is the same in both encodings, and opening a converter costs far
    // more than the text (numbers and percentages are set before every block).
    if (std::all_of(input.begin(), input.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(input);
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

} // namespace

std::string gbk(std::string_view utf8Text) { return convert("GBK", "UTF-8", utf8Text, "?", 0); }

std::string utf8(std::string_view gbkText) { return convert("UTF-8", "GBK", gbkText, "\xEF\xBF\xBD", 2); }

} // namespace mub
