// GBK byte strings and their conversion to and from UTF-8.
//
// Inside the logic every text is a std::string of GBK bytes: texts read from
// upgrade files, texts on the wire and texts shown to the operator. Source
// literals are written in UTF-8 and converted once with gbk(); display and
// terminal code converts back with utf8().
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mub {

// UTF-8 to GBK. Characters GBK cannot hold become '?'.
std::string gbk(std::string_view utf8);

// GBK to UTF-8. Bytes that are not valid GBK become U+FFFD.
std::string utf8(std::string_view gbkText);

// A text from outside (the machine, a file) as one line of UTF-8 output:
// control characters are shown as \xNN, so that no escape sequence reaches
// a terminal and no line break splits the line.
std::string printableUtf8(std::string_view gbkText);

// Length in bytes of the GBK character starting with `lead`: a byte of 0x80
// or more starts a two-byte character.
inline std::size_t gbkCharLength(unsigned char lead) { return lead >= 0x80 ? 2 : 1; }

// Position of the first occurrence of `needle` in `text` at or after `from`
// that begins at a character start, stepping by GBK characters; npos if none.
// Exact, case-sensitive bytes.
std::size_t findGbk(std::string_view text, std::string_view needle, std::size_t from = 0);

// `text` with every occurrence of `needle` removed, ASCII letters compared
// without regard to case; the search steps by GBK characters.
std::string removeAllIgnoringAsciiCase(std::string_view text, std::string_view needle);

// The last `n` bytes of `text`, or all of it when it is shorter.
std::string_view lastBytes(std::string_view text, std::size_t n);

// The bytes before the first zero byte (all of them when there is none).
std::string_view upToFirstNul(std::string_view bytes);

} // namespace mub
