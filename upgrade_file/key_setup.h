// The program's two fixed secrets: the text the upgrade-file key is made
// from, and the four-letter company mark the machine answers the link probe
// with. One place holds both.
#pragma once

#include <string>

namespace mub {

// GBK bytes of the upgrade key text (20 bytes).
const std::string& upgradeKey();

// The company mark "QMTV" (ASCII, no terminator).
const std::string& companyMark();

} // namespace mub
