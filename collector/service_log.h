// The collector's own lines (the journal under systemd): one line per
// event, written whole even when several workers write at once. Never
// given a token or a password.
#pragma once

#include <string>

namespace mub::collector {

void serviceLog(const std::string& line);

} // namespace mub::collector
