// The records sender a front end owns while it runs: one thread that sends
// the upgrade log's waiting lines to the collector (log_sender.h), woken
// after each append and by a timer, and tells how many lines wait. When
// the collector cannot be reached (or refuses) the lines wait and it tries
// again later, less often each time, up to about once a minute; the
// upgrades never wait for it.
#pragma once

#include "records/collector_target.h"
#include "records/log_sender.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace mub {

// "待发送记录 12 条" (GBK): the lines that wait, as the windows show them.
std::string waitingRecordsText(std::size_t waiting);

class RecordSender {
public:
    struct Setup {
        std::string logPath;
        CollectorTarget target;
        // From the sender's thread, at the first count and whenever it
        // changes: the ended lines after the mark.
        std::function<void(std::size_t waiting)> onWaiting;
        // A line for the program's diagnostic log (conflicts, lines passed
        // over, the collector out of reach and back); default diagnosticLine.
        std::function<void(const std::string&)> tell;
        SendOptions send;
        std::chrono::milliseconds lookEvery{10000};  // with nothing to do
        std::chrono::milliseconds firstRetry{1000};  // after a failed pass, doubling...
        std::chrono::milliseconds longestRetry{60000}; // ...up to this
        std::chrono::milliseconds busyRetry{2000};   // while another program sends
    };

    explicit RecordSender(Setup setup);
    // stop()
    ~RecordSender();
    RecordSender(const RecordSender&) = delete;
    RecordSender& operator=(const RecordSender&) = delete;

    // A line was appended: it is counted at once and sent unless the
    // sender waits to try the collector again.
    void wake();
    // Before the program ends: tries at once, and waits until no line
    // waits, a try that began after this call has failed, or `most` has
    // passed. True when no line waits.
    bool finish(std::chrono::milliseconds most);
    // Ends the thread promptly, a request under way included (its batch is
    // sent again by the next sender: the ids make that harmless).
    void stop();

    std::size_t waiting() const;
    // Why the last pass did not send everything (another program sending
    // the log included); empty after one that did, and before the first.
    std::string problem() const;

private:
    void run();

    const Setup setup_;
    HttpPoster poster_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool stopping_ = false;
    bool woken_ = false;
    bool hurry_ = false;         // finish() waits: no backoff, busy looked at often
    unsigned long passesBegun_ = 0, passesEnded_ = 0;
    bool lastPassFailed_ = false;
    std::size_t waiting_ = 0;
    std::string problem_;
    std::thread thread_; // last: started when the rest is ready
};

} // namespace mub
