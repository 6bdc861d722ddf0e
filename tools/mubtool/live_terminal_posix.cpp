#include "tools/mubtool/live_terminal.h"

#include <cstdlib>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

namespace mub::tool {

bool liveTerminal(std::FILE* stream) {
    if (::isatty(::fileno(stream)) != 1) return false;
    const char* term = std::getenv("TERM");
    return term == nullptr || std::strcmp(term, "dumb") != 0;
}

int terminalColumns(std::FILE* stream) {
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

} // namespace mub::tool
