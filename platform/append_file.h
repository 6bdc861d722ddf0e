// Appending lines to a file that several programs and threads write at
// once (the upgrade log): each append is one write under an exclusive lock
// that every writer takes, flushed to the disk before it returns, so lines
// never interleave and a program killed at any moment leaves only whole
// lines. One implementation per operating system.
#pragma once

#include <string>
#include <string_view>

namespace mub {

// Appends `text` to the file at `path` (UTF-8), creating the file when it
// is missing. A file that is new or empty gets `header` in front of the
// text, in the same write. When the file's last byte is not '\n' (a line cut
// short by a power loss) the text starts on a line of its own. A write that
// fails halfway (a full disk) is taken back.
enum class AppendResult {
    Appended,  // written and flushed to the disk
    Failed,    // nothing written; `error` (UTF-8) says why
    Unflushed, // written, but the disk did not confirm it; `error` says why
};
AppendResult appendToFile(const std::string& path, std::string_view header, std::string_view text, std::string& error);

} // namespace mub
