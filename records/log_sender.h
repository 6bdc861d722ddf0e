// One pass of the records sender over an upgrade log: under the log's send
// lock, the ended lines after its mark (sent_mark.h) go to the collector,
// oldest first, in batches; after each acknowledged batch the mark moves
// past it. Used by the background sender of every front end and by
// `mubtool send`.
//
// What the collector's answers lead to:
//   200      the batch is acknowledged; conflicts (a record stored already
//            with other content) are told and the pass goes on
//   400/413  the collector will never take this batch as it is: it is sent
//            again in halves, down to a single line; a single line refused
//            so is told and passed over (it stays in the log), so that one
//            line never holds back every later one
//   401/403  the token is not known: the pass ends, nothing is passed over
//   other    (no answer, 5xx, anything else) the pass ends; the lines wait
#pragma once

#include "platform/http_post.h"
#include "records/collector_target.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace mub {

struct SendOptions {
    std::size_t batchRecords = 500;
    std::size_t batchBytes = 1 << 20; // of the request's body
    std::chrono::milliseconds connectBound{5000};
    std::chrono::milliseconds requestBound{30000};
    // Sends the whole log again, whatever its mark says.
    bool fromStart = false;
    // A line for people (UTF-8): a conflict, a line passed over, a log sent
    // again from its start.
    std::function<void(const std::string&)> tell;
};

struct SendReport {
    enum class Ending {
        Done,        // no ended line waits
        Busy,        // another program (or sender) holds the send lock
        Unreachable, // no answer, or one that means "later"
        Refused,     // the collector does not know the token
        LogProblem,  // the log cannot be read, is not an upgrade log, or its mark cannot be written
        Stopped,     // the poster was cancelled
    };
    Ending ending = Ending::Done;
    std::string reason;           // why it ended so, when not Done (UTF-8)
    std::size_t sentLines = 0;    // lines acknowledged (or passed over) in this pass
    std::size_t stored = 0, duplicates = 0, conflicts = 0;
    std::size_t passedOver = 0;   // lines refused alone, or not records
    std::size_t waiting = 0;      // ended lines after the mark when the pass ended
};

SendReport sendWaitingRecords(const std::string& logPath, const CollectorTarget& target, HttpPoster& poster,
                              const SendOptions& options);

// The ended lines after the mark (the header not counted): what waits;
// with `fromStart` every ended line.
std::size_t waitingRecordLines(const std::string& logPath, bool fromStart = false);

} // namespace mub
