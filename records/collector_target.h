// Where a station's records go: the collector's address and the station's
// token ([Records] SendTo and Token of cfg.ini, `--send-to` and `--token`
// of mubtool). Records are posted to the address + "/records".
#pragma once

#include <string>

namespace mub {

struct CollectorTarget {
    std::string address; // http://HOST:PORT or https://HOST/PATH; empty: no collector
    std::string token;
    bool configured() const { return !address.empty(); }
};

// The address records are posted to.
std::string recordsUrl(const CollectorTarget& target);

// Empty when the target can be used (or none is set); else what is wrong
// with it, for a usage error or a diagnostic line. The token goes into a
// header line, so it must be visible ASCII without spaces.
std::string collectorTargetProblem(const CollectorTarget& target);

} // namespace mub
