// An upgrade's outcome word (upgrade_ending.h, the log's outcome column) in
// the operator's words: what the station window's tiles say about the last
// machine and what the shift report lists failures by.
#pragma once

#include <string_view>

namespace mub {

// The words (UTF-8) for `outcome`; nullptr for a word this build does not
// know (a newer program's log), which a view then shows as it is.
const char* outcomeWords(std::string_view outcome);

} // namespace mub
