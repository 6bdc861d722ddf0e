#include "tools/mubtool/terminal.h"

#include <unistd.h>

namespace mub::tool {

bool isTerminal(int fd) { return ::isatty(fd) == 1; }

} // namespace mub::tool
