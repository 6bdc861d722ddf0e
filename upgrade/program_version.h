// The program's version, from one source for every front end (both
// windows, mubtool, the station, the upgrade log, the JSON reports): the
// project's version and the commit the program was built from,
// "1.0.0+5d5676c" ("+5d5676c.modified" when the tree had changes that no
// commit holds; "1.0.0" alone when it was not built from a git checkout).
#pragma once

#include <string>

namespace mub {

const std::string& programVersion();

} // namespace mub
