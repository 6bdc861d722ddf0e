// Time of the shift report over one shift's records, as the collector makes
// it for each page:
//   bench_report [--records N] [--stations S] [--runs R]   default 20000, 8, 21
// Prints the median and fastest wall time of buildShiftReport (the figures)
// and of shiftReportHtml on them (the page), and the page's size. The
// records are spread over one 8-hour shift (a second line, the check after
// the restart, for a tenth of the machines; a few failures).
#include "records/shift_report.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::vector<mub::StationRecord> shiftOfRecords(int count, int stations) {
    std::mt19937 random(7);
    std::vector<mub::StationRecord> records;
    records.reserve(static_cast<std::size_t>(count));
    const char* failures[] = {"link-lost", "model-mismatch", "not-connected", "too-many-failures"};
    for (int i = 0; records.size() < static_cast<std::size_t>(count); ++i) {
        const int second = static_cast<int>(static_cast<long long>(i) * 8 * 3600 * 10 / (count * 11));
        char time[40];
        std::snprintf(time, sizeof time, "2026-12-09 %02d:%02d:%02d+08:00", 6 + second / 3600, second / 60 % 60,
                      second % 60);
        mub::StationRecord r;
        r.station = "LINE" + std::to_string(i % stations + 1) + "-PC01";
        r.record.time = time;
        r.record.computer = r.station;
        r.record.program = "mubtool station";
        r.record.file = "D:/fw/QM3000_V2.10.mub";
        r.record.recordId = std::to_string(i) + "-0123456789abcdef0123456789abcdef";
        r.record.blocksTotal = 1024;
        const bool failed = random() % 20 == 0;
        r.record.outcome = failed ? failures[random() % 4] : "completed";
        r.record.exitCode = failed ? 6 : 0;
        r.record.blocksDone = failed ? random() % 1024 : 1024;
        r.record.seconds = 30 + static_cast<double>(random() % 2000) / 100;
        records.push_back(r);
        if (!failed && i % 10 == 0 && records.size() < static_cast<std::size_t>(count)) {
            r.record.outcome = "verified";
            records.push_back(r);
        }
    }
    return records;
}

struct Figures {
    double median, fastest;
};

template <typename Work> Figures timed(int runs, Work work) {
    std::vector<double> ms;
    for (int k = 0; k < runs; ++k) {
        const auto start = Clock::now();
        work();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front()};
}

} // namespace

int main(int argc, char** argv) {
    int count = 20000, stations = 8, runs = 21;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--records") == 0) count = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--stations") == 0) stations = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoi(argv[i + 1]);
    }
    if (count < 1 || stations < 1 || runs < 1) {
        std::fputs("usage: bench_report [--records N] [--stations S] [--runs R]\n", stderr);
        return 1;
    }
    const std::vector<mub::StationRecord> records = shiftOfRecords(count, stations);
    std::string error;
    const mub::ShiftTimes shifts = *mub::parseShiftTimes(mub::defaultShiftList, error);
    const mub::Period day{{2026, 12, 9}, {2026, 12, 9}};
    mub::ShiftReport report;
    const Figures figures = timed(runs, [&] { report = mub::buildShiftReport(records, shifts, day); });
    std::string page;
    const Figures html = timed(runs, [&] { page = mub::shiftReportHtml(report, mub::ReportTitle{}); });
    std::printf("%zu records, %lld machines, %d stations, one shift; %d runs\n", records.size(),
                report.total.machines.machines(), stations, runs);
    std::printf("figures (buildShiftReport): median %.2f ms, fastest %.2f ms\n", figures.median, figures.fastest);
    std::printf("page (shiftReportHtml):     median %.2f ms, fastest %.2f ms, %zu bytes\n", html.median, html.fastest,
                page.size());
    return 0;
}
