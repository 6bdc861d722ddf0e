// One line about how the program runs, for whoever watches it (a service
// technician, a test): not for the operator, who is told in the window.
// There is no log file: the line goes to standard error, and on Windows
// also to the system's debug output, which a window program without a
// console still reaches.
#pragma once

#include <string>

namespace mub {

void diagnosticLine(const std::string& utf8Text);

} // namespace mub
