// The collector's answer to a batch of records, as the sender reads it:
// 200 {"stored":N,"duplicates":D,"conflicts":[{"record_id":…,"outcome":…}]},
// an error {"error":"…"} otherwise. A body that does not read so leaves
// the figures at zero: the status alone decides what the sender does.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mub {

struct CollectorAnswer {
    struct Conflict {
        std::string recordId, outcome;
    };
    std::size_t stored = 0, duplicates = 0;
    std::vector<Conflict> conflicts;
    std::string error; // the error's text; empty when there is none
};

CollectorAnswer readCollectorAnswer(std::string_view body);

} // namespace mub
