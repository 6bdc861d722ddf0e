#include "records/record_sender.h"

#include "platform/diagnostic_log.h"
#include "platform/gbk_text.h"

#include <algorithm>
#include <optional>

namespace mub {
namespace {

using SenderClock = std::chrono::steady_clock;

// How often a finishing program looks whether another program's sender
// has sent its lines.
constexpr std::chrono::milliseconds busyLookWhileFinishing{200};

bool passFailed(SendReport::Ending ending) {
    return ending == SendReport::Ending::Unreachable || ending == SendReport::Ending::Refused ||
           ending == SendReport::Ending::LogProblem;
}

} // namespace

std::string waitingRecordsText(std::size_t waiting) {
    return gbk("待发送记录 ") + std::to_string(waiting) + gbk(" 条");
}

RecordSender::RecordSender(Setup setup) : setup_(std::move(setup)) { thread_ = std::thread([this] { run(); }); }

RecordSender::~RecordSender() { stop(); }

void RecordSender::wake() {
    std::lock_guard<std::mutex> guard(lock_);
    woken_ = true;
    changed_.notify_all();
}

bool RecordSender::finish(std::chrono::milliseconds most) {
    std::unique_lock<std::mutex> guard(lock_);
    hurry_ = true;
    woken_ = true;
    const unsigned long target = passesBegun_ + 1;
    changed_.notify_all();
    changed_.wait_until(guard, SenderClock::now() + most, [&] {
        return stopping_ || (passesEnded_ >= target && (waiting_ == 0 || lastPassFailed_));
    });
    return passesEnded_ >= target && waiting_ == 0;
}

void RecordSender::stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        changed_.notify_all();
    }
    poster_.cancel();
    if (thread_.joinable()) thread_.join();
}

std::size_t RecordSender::waiting() const {
    std::lock_guard<std::mutex> guard(lock_);
    return waiting_;
}

std::string RecordSender::problem() const {
    std::lock_guard<std::mutex> guard(lock_);
    return problem_;
}

void RecordSender::run() {
    const auto tell = [this](const std::string& text) {
        if (setup_.tell) setup_.tell(text);
        else diagnosticLine("records: " + text);
    };
    SendOptions options = setup_.send;
    options.tell = tell;
    std::chrono::milliseconds backoff{0};
    SenderClock::time_point retryAt{};
    bool failing = false;
    // Counted first: a first pass may wait long for its answer.
    std::size_t shown = waitingRecordLines(setup_.logPath);
    if (setup_.onWaiting) setup_.onWaiting(shown);

    std::unique_lock<std::mutex> guard(lock_);
    waiting_ = shown;
    while (!stopping_) {
        // Woken while it waits to try again, it only counts.
        const bool attempt = hurry_ || SenderClock::now() >= retryAt;
        woken_ = false;
        const unsigned long pass = attempt ? ++passesBegun_ : 0;
        guard.unlock();

        std::optional<SendReport> report;
        std::size_t waiting = 0;
        if (attempt) {
            report = sendWaitingRecords(setup_.logPath, setup_.target, poster_, options);
            waiting = report->waiting;
            const bool failed = passFailed(report->ending);
            if (failed && !failing)
                tell(std::to_string(waiting) + " line(s) wait: " + report->reason + "; tried again later");
            if (report->ending == SendReport::Ending::Done && failing) tell("sending again to " + setup_.target.address);
            if (failed || report->ending == SendReport::Ending::Done) failing = failed;
        } else {
            waiting = waitingRecordLines(setup_.logPath);
        }
        if (setup_.onWaiting && shown != waiting) setup_.onWaiting(waiting);
        shown = waiting;

        guard.lock();
        waiting_ = waiting;
        const auto now = SenderClock::now();
        auto next = retryAt;
        if (report) {
            passesEnded_ = pass;
            lastPassFailed_ = passFailed(report->ending);
            if (lastPassFailed_) {
                backoff = backoff.count() == 0 ? setup_.firstRetry : std::min(backoff * 2, setup_.longestRetry);
                retryAt = now + backoff;
                next = retryAt;
                problem_ = report->reason;
            } else if (report->ending == SendReport::Ending::Busy) {
                next = now + (hurry_ ? busyLookWhileFinishing : setup_.busyRetry);
                problem_ = report->reason;
            } else {
                backoff = std::chrono::milliseconds{0};
                retryAt = {};
                next = now + setup_.lookEvery;
                if (report->ending == SendReport::Ending::Done) problem_.clear();
            }
        }
        changed_.notify_all();
        changed_.wait_until(guard, next, [this] { return stopping_ || woken_; });
    }
}

} // namespace mub
