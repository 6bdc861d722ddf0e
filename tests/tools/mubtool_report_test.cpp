// mubtool report run as the real program on a small log: the page it
// writes, what it prints, and how it refuses what it cannot use.
#include "tests/support/simulator_process.h"
#include "tests/support/temp_folder.h"
#include "upgrade/upgrade_log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace mub::test {
namespace {

struct ReportRun {
    int exitCode = -1;
    std::string out, err;
};

class MubtoolReport : public ::testing::Test {
protected:
    TempFolder folder;

    void SetUp() override {
        // The shifts are read by the local clock: UTC+8 here.
        if (const char* tz = std::getenv("TZ")) savedTz_ = tz;
        ::setenv("TZ", "CST-8", 1);
    }
    void TearDown() override {
        if (savedTz_) ::setenv("TZ", savedTz_->c_str(), 1);
        else ::unsetenv("TZ");
    }

    ReportRun report(std::vector<std::string> args) {
        args.insert(args.begin(), {SimulatorProcess::binDir() + "/mubtool", "report"});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string out = folder.path("stdout"), err = folder.path("stderr");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        ReportRun run;
        const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0);
        int status = 0;
        if (rc == 0) ::waitpid(pid, &status, 0);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = folder.read("stdout");
        run.err = folder.read("stderr");
        return run;
    }

    // A line as the log's writer makes it, at 2026-12-09 HH:MM +08:00.
    static std::string logLine(UpgradeLogEntry entry, int hour, int minute) {
        LocalTime time;
        time.fields.tm_year = 126;
        time.fields.tm_mon = 11;
        time.fields.tm_mday = 9;
        time.fields.tm_hour = hour;
        time.fields.tm_min = minute;
        time.utcOffsetSeconds = 8 * 3600;
        return upgradeLogLine(entry, time, "LINE-7");
    }
    static UpgradeLogEntry upgrade(const char* outcome, int exitCode) {
        UpgradeLogEntry e;
        e.program = "mubtool station";
        e.file = "fw.mub";
        e.outcome = outcome;
        e.exitCode = exitCode;
        e.blocksTotal = e.blocksDone = 64;
        e.seconds = 12;
        return e;
    }

private:
    std::optional<std::string> savedTz_;
};

TEST_F(MubtoolReport, WritesThePageOfTheLogAndSaysWhatItCounted) {
    UpgradeLogEntry verified = upgrade("completed", 0);
    std::string log = "\xEF\xBB\xBF" + upgradeLogHeader() + logLine(verified, 9, 10);
    verified.outcome = "verified";
    log += logLine(verified, 9, 11) + logLine(upgrade("link-lost", 6), 10, 0) + logLine(upgrade("completed", 0), 19, 59);
    UpgradeLogEntry check;
    check.program = "mubtool detect";
    check.outcome = "identified";
    log += logLine(check, 11, 0) + "\"2026-12-09 12:00:00+08:00\",\"LINE-7\",\"cut off\r\n";
    folder.write("upgrades.csv", log);

    const ReportRun r = report({"--html", folder.path("shifts.html"), "--shifts", "08:00,20:00", folder.path("upgrades.csv")});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("2026-12-09 to 2026-12-09, 1 shift(s) with machines, 3 machines: 2 passed, 1 failed, yield 66.7%"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1 model-check lines"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("upgrades.csv: 1 line skipped"), std::string::npos) << r.err;
    const std::string page = folder.read("shifts.html");
    EXPECT_NE(page.find("白班 08:00–20:00"), std::string::npos);
    EXPECT_NE(page.find("LINE-7"), std::string::npos);
    EXPECT_NE(page.find("66.7%"), std::string::npos);
    EXPECT_NE(page.find("连接中断"), std::string::npos);
    // Written through a temporary file that is gone.
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"shifts.html", "stderr", "stdout", "upgrades.csv"}));
}

TEST_F(MubtoolReport, RefusesALogItCannotReadAndABadListAndWritesNothing) {
    folder.write("notes.txt", "shopping list\r\nmilk\r\n");
    const std::string page = folder.path("out.html");
    ReportRun r = report({"--html", page, folder.path("missing.csv")});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_NE(r.err.find("cannot read " + folder.path("missing.csv") + ": no such file"), std::string::npos) << r.err;
    r = report({"--html", page, folder.path("notes.txt")});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_NE(r.err.find(folder.path("notes.txt") + " is no upgrade log"), std::string::npos) << r.err;
    r = report({"--html", page, "--shifts", "8-20", folder.path("notes.txt")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("--shifts: '8-20' is no time HH:MM"), std::string::npos) << r.err;
    r = report({folder.path("notes.txt")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("--html OUT.html is required"), std::string::npos) << r.err;
    EXPECT_FALSE(folder.exists("out.html"));
}

} // namespace
} // namespace mub::test
