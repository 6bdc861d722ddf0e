// The id of one machine's record: 128 random bits as 32 lowercase hex
// digits. Every line of the upgrade log carries one; a second line about
// the same run (its check after the restart) carries its first line's id,
// so that a reader can tell the lines of one machine from those of another.
#pragma once

#include <string>

namespace mub {

std::string newRecordId();

} // namespace mub
