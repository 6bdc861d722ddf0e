// Private-profile (INI) files: read and write one value at a time.
//
// A file is a sequence of lines: section headers "[name]", value lines
// "key=value", and anything else (comments, blank lines), which is kept as
// it is. Section and key names are found without regard to the case of ASCII
// letters (two-byte GBK characters are compared exactly); when a name occurs
// twice, the first occurrence counts. Blanks around names and values are not
// part of them. Values are GBK bytes, returned and stored unchanged, without
// quotes and without a length limit.
//
// Line ends: a file keeps the line end it was written with. New lines get
// CR LF when the file's first line ends with CR LF, or when the file is new
// or has no line end yet; they get LF when the file's first line ends in a
// bare LF.
//
// Writes never leave a half-written file: the new text goes to a temporary
// file in the same folder, is flushed to the disk and then renamed over the
// old one, which keeps its mode. A write that fails (read-only or missing
// folder, full disk, a file that exists but cannot be read, or that this user
// may not write) leaves the old file as it was.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mub {

// The value of `key` in `section`; `fallback` when the file, the section or
// the key is missing. A key that is present with an empty value reads as
// empty, not as `fallback`.
std::string readProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view fallback = {});

// Every key=value line of `section` (first occurrence of the section), in
// file order, names and values as they stand; empty when there is none.
std::vector<std::pair<std::string, std::string>> readProfileSection(const std::string& path, std::string_view section);

// Sets `key` in `section` to `value`: replaces the value in the key's line
// (its spelling and blanks stay), or adds the
// key at the end of its section, or adds the section at the end of the file.
// All other lines stay as they are. Returns false, and changes nothing, when
// the file cannot be written, or when a name or the value holds a line break
// or a zero byte (it would turn into lines of its own), a key holds "=" or a
// section "]".
bool writeProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

// Names compared as the profile functions compare them: ASCII letters
// without regard to case, stepping by GBK characters.
bool sameProfileName(std::string_view a, std::string_view b);

} // namespace mub
