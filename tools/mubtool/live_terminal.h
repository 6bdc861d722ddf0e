// Whether an output stream is a terminal that a display may redraw in
// place (cursor movements and line erasing), and how wide it is.
#pragma once

#include <cstdio>

namespace mub::tool {

// True for a terminal that takes the usual escape sequences; on Windows a
// console, switched to take them, where the console can.
bool liveTerminal(std::FILE* stream);

// Columns of the terminal, 0 when unknown.
int terminalColumns(std::FILE* stream);

} // namespace mub::tool
