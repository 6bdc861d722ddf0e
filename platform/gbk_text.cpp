#include "platform/gbk_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace mub {
namespace {

unsigned char lowerAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

bool isAsciiLetter(unsigned char c) { return lowerAscii(c) >= 'a' && lowerAscii(c) <= 'z'; }

bool matchesIgnoringAsciiCase(std::string_view text, std::size_t at, std::string_view needle) {
    if (text.size() - at < needle.size()) return false;
    for (std::size_t k = 0; k < needle.size(); ++k)
        if (lowerAscii(static_cast<unsigned char>(text[at + k])) != lowerAscii(static_cast<unsigned char>(needle[k])))
            return false;
    return true;
}

// Steps from `at`, a character start, by whole characters until it reaches
// or passes `target` (at most `text.size()`); the result is `target` exactly
// when `target` is a character start, and is a character start either way.
// Stretches without a byte of 0x80 or more are passed eight bytes at a time:
// a megabyte image line is stepped through here.
std::size_t stepToward(std::string_view text, std::size_t at, std::size_t target) {
    constexpr std::uint64_t kHighBits = 0x8080808080808080u;
    while (at < target) {
        if (target - at >= 8) {
            std::uint64_t word;
            std::memcpy(&word, text.data() + at, 8);
            if ((word & kHighBits) == 0) {
                at += 8;
                continue;
            }
        }
        at += gbkCharLength(static_cast<unsigned char>(text[at]));
    }
    return at;
}

// The next position at or after `from` that holds `byte`, or npos.
std::size_t nextByte(std::string_view text, char byte, std::size_t from) {
    if (from >= text.size()) return std::string_view::npos;
    const void* hit = std::memchr(text.data() + from, byte, text.size() - from);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : std::string_view::npos;
}

// Index of the needle byte the searches below look for first: the last one
// that is no ASCII letter, since its case does not vary. npos when the needle
// is all letters.
std::size_t anchorIndex(std::string_view needle) {
    for (std::size_t k = needle.size(); k-- > 0;)
        if (!isAsciiLetter(static_cast<unsigned char>(needle[k]))) return k;
    return std::string_view::npos;
}

// Removal for a needle of letters only: every character start is tried.
std::string removeByStepping(std::string_view text, std::string_view needle) {
    std::string out;
    out.reserve(text.size());
    std::size_t runStart = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (matchesIgnoringAsciiCase(text, i, needle)) {
            out.append(text.substr(runStart, i - runStart));
            i += needle.size();
            runStart = i;
            continue;
        }
        i += gbkCharLength(static_cast<unsigned char>(text[i]));
    }
    out.append(text.substr(runStart));
    return out;
}

} // namespace

// Both searches jump between the places where one byte of the needle stands
// (memchr) and step by characters only as far as the candidate they check,
// so that a long line costs little more than one pass of memchr. Candidates
// come in increasing order, so the stepping never goes back.
std::size_t findGbk(std::string_view text, std::string_view needle, std::size_t from) {
    if (needle.empty()) return std::string_view::npos;
    std::size_t charStart = stepToward(text, 0, std::min(from, text.size()));
    const std::size_t last = needle.size() - 1;
    for (std::size_t p = nextByte(text, needle[last], charStart + last); p != std::string_view::npos;
         p = nextByte(text, needle[last], p + 1)) {
        std::size_t candidate = p - last;
        if (text.compare(candidate, needle.size(), needle) != 0) continue;
        charStart = stepToward(text, charStart, candidate);
        if (charStart == candidate) return candidate;
    }
    return std::string_view::npos;
}

std::string removeAllIgnoringAsciiCase(std::string_view text, std::string_view needle) {
    if (needle.empty()) return std::string(text);
    const std::size_t anchor = anchorIndex(needle);
    if (anchor == std::string_view::npos) return removeByStepping(text, needle);
    // Matches are removed from left to right; the text after a removed match
    // is read as starting with a new character, and a candidate overlapping
    // a removed match is no match.
    std::string out;
    out.reserve(text.size());
    std::size_t runStart = 0;
    std::size_t charStart = 0;
    for (std::size_t p = nextByte(text, needle[anchor], anchor); p != std::string_view::npos;
         p = nextByte(text, needle[anchor], p + 1)) {
        std::size_t candidate = p - anchor;
        if (candidate < runStart || !matchesIgnoringAsciiCase(text, candidate, needle)) continue;
        charStart = stepToward(text, charStart, candidate);
        if (charStart != candidate) continue;
        out.append(text.substr(runStart, candidate - runStart));
        runStart = charStart = candidate + needle.size();
    }
    out.append(text.substr(runStart));
    return out;
}

std::string_view lastBytes(std::string_view text, std::size_t n) {
    return text.size() <= n ? text : text.substr(text.size() - n);
}

std::string_view upToFirstNul(std::string_view bytes) {
    std::size_t nul = bytes.find('\0');
    return nul == std::string_view::npos ? bytes : bytes.substr(0, nul);
}

std::string printableUtf8(std::string_view gbkText) {
    std::string out;
    for (const char c : utf8(gbkText)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            static const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace mub
