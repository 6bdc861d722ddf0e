// JSON text for the reports of the simulated machine and of mubtool.
#pragma once

#include <string>

namespace mub {

// `utf8Text` as a quoted JSON string: quotes, backslashes and control
// characters escaped.
std::string jsonString(const std::string& utf8Text);

} // namespace mub
