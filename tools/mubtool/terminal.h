// Whether a standard stream (0 stdin, 1 stdout, 2 stderr) is an interactive
// terminal (a console window on Windows), as the program was started: the
// Windows entry routes the output through converters, whose pipes are no
// terminals.
#pragma once

namespace mub::tool {

bool isTerminal(int fd);

} // namespace mub::tool
