// mubtool send: the records sender of the front ends, once, for any
// upgrade log: its lines that the collector has not acknowledged yet.
#include "platform/file_path.h"
#include "platform/option_reader.h"
#include "records/log_sender.h"
#include "records/sent_mark.h"
#include "tools/mubtool/command.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace mub::tool {
namespace {

constexpr const char* sendUsage =
    "usage: mubtool send --log FILE --to URL --token T [--all]\n"
    "\n"
    "Sends the lines of an upgrade log (upgrades.csv, an older one too) to the\n"
    "collector at URL (mub-collector, http://HOST:PORT), oldest first, in batches,\n"
    "as every front end does with --send-to or [Records] of cfg.ini: only the\n"
    "lines after FILE.sent, the mark of what the collector acknowledged, which\n"
    "moves after each batch; a log shorter than its mark goes again from its\n"
    "start. Lines of an older log without a record id get one made from their\n"
    "bytes, so a line sent twice is stored once. A program that sends the same\n"
    "log (a station) is waited for up to 10 s.\n"
    "\n"
    "options (also as --name=VALUE):\n"
    "  --log FILE   the upgrade log\n"
    "  --to URL     the collector's address\n"
    "  --token T    this station's token at the collector\n"
    "  --all        every line again, whatever the mark says\n"
    "\n"
    "Prints what it sent (stored, duplicates), what it passed over (a line that\n"
    "is not a record, or one the collector refuses on its own: it stays in the\n"
    "log), each conflict (a record the collector holds with other content: it\n"
    "keeps its own) and what still waits.\n"
    "\n"
    "exit codes:\n"
    "  0   every ended line of the log is acknowledged (or passed over)\n"
    "  1   usage error\n"
    "  4   the log cannot be read, is not an upgrade log, or its mark cannot be\n"
    "      written\n"
    "  13  lines wait: the collector was not reached, answered that it cannot\n"
    "      take them now (503: its database), or another program held the log\n"
    "  14  the collector does not know the token (401)\n";

// How long `send` waits for another program that is sending the same log.
constexpr std::chrono::seconds busyPatience{10};

int runSend(const std::vector<std::string>& args) {
    std::string logPath, error;
    CollectorTarget target;
    bool all = false, help = false;
    OptionReader reader(args);
    while (reader.next()) {
        const std::string& arg = reader.name();
        if (arg == "--help" || arg == "-h") help = true;
        else if (arg == "--log") {
            if (!reader.nonEmptyValue(logPath, "a file", error)) return usageError("send", error);
        } else if (arg == "--to") {
            if (!reader.nonEmptyValue(target.address, "the collector's address", error)) return usageError("send", error);
        } else if (arg == "--token") {
            if (!reader.nonEmptyValue(target.token, "a token", error)) return usageError("send", error);
        } else if (arg == "--all") {
            if (!reader.flag(all, error)) return usageError("send", error);
        } else if (reader.isOption()) {
            return usageError("send", "unknown option " + reader.given());
        } else {
            return usageError("send", "takes no argument, given: " + arg);
        }
    }
    if (help) {
        std::fputs(sendUsage, stdout);
        return ExitOk;
    }
    if (logPath.empty()) return usageError("send", "--log FILE is required");
    if (!target.configured()) return usageError("send", "--to URL is required");
    if (const std::string problem = collectorTargetProblem(target); !problem.empty()) return usageError("send", problem);
    std::error_code missing;
    if (!std::filesystem::is_regular_file(fileSystemPath(logPath), missing)) {
        std::fprintf(stderr, "mubtool send: %s: no such file\n", logPath.c_str());
        return ExitFileFailure;
    }

    SendOptions options;
    options.fromStart = all;
    options.tell = [](const std::string& line) { std::printf("%s\n", line.c_str()); };
    HttpPoster poster;
    std::printf("sending %s to %s: %zu line(s) wait\n", logPath.c_str(), target.address.c_str(),
                waitingRecordLines(logPath, all));
    std::fflush(stdout);
    const auto giveUpAt = std::chrono::steady_clock::now() + busyPatience;
    SendReport report = sendWaitingRecords(logPath, target, poster, options);
    while (report.ending == SendReport::Ending::Busy && std::chrono::steady_clock::now() < giveUpAt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        report = sendWaitingRecords(logPath, target, poster, options);
    }
    std::printf("sent %zu line(s): %zu stored, %zu duplicate(s), %zu conflict(s), %zu passed over; %zu wait\n",
                report.sentLines - report.passedOver, report.stored, report.duplicates, report.conflicts,
                report.passedOver, report.waiting);
    std::fflush(stdout);
    if (report.ending == SendReport::Ending::Done) return ExitOk;
    std::fprintf(stderr, "mubtool send: %s\n", report.reason.c_str());
    switch (report.ending) {
    case SendReport::Ending::Refused: return ExitRecordsRefused;
    case SendReport::Ending::LogProblem: return ExitFileFailure;
    default: return ExitRecordsWait;
    }
}

MubtoolCommand sendCommand("send", "send an upgrade log's lines to the records collector", &runSend);

} // namespace
} // namespace mub::tool
