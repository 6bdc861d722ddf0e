// mubtool send run as the real program against a fake collector: what it
// prints and how it ends.
#include "records/log_record.h"
#include "records/sent_mark.h"
#include "tests/support/fake_collector.h"
#include "tests/support/simulator_process.h"
#include "tests/support/temp_folder.h"
#include "upgrade/upgrade_log.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace mub::test {
namespace {

struct SendRun {
    int exitCode = -1;
    std::string out, err;
};

class MubtoolSend : public ::testing::Test {
protected:
    TempFolder folder;
    FakeCollector collector;
    std::string log = folder.path("upgrades.csv");

    SendRun send(std::vector<std::string> args) {
        args.insert(args.begin(), {SimulatorProcess::binDir() + "/mubtool", "send"});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string out = folder.path("stdout"), err = folder.path("stderr");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        SendRun run;
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
    SendRun sendLog(std::vector<std::string> more = {}) {
        std::vector<std::string> args{"--log", log, "--to", collector.address(), "--token", "t0k"};
        args.insert(args.end(), more.begin(), more.end());
        return send(args);
    }
    void appendLines(int count) {
        UpgradeLog writer(log);
        for (int i = 0; i < count; ++i) {
            UpgradeLogEntry entry;
            entry.program = "upgrader";
            entry.outcome = "completed";
            EXPECT_TRUE(writer.append(entry).written);
        }
    }
};

TEST_F(MubtoolSend, SendsWhatWaitsOnceAndSaysWhat) {
    appendLines(3);
    SendRun r = sendLog();
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(": 3 line(s) wait\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("sent 3 line(s): 3 stored, 0 duplicate(s), 0 conflict(s), 0 passed over; 0 wait\n"),
              std::string::npos) << r.out;
    EXPECT_EQ(readSentMark(log), std::filesystem::file_size(log));
    EXPECT_EQ(collector.batches().at(0).token, "t0k");

    r = sendLog();
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("sent 0 line(s)"), std::string::npos) << r.out;
    EXPECT_EQ(collector.batches().size(), 1u);
    // --all: every line again.
    EXPECT_EQ(sendLog({"--all"}).exitCode, 0);
    EXPECT_EQ(collector.acknowledgedIds().size(), 6u);
}

TEST_F(MubtoolSend, AnOlderLogGoesWithIdsMadeFromItsLines) {
    const std::string line = "\"2025-03-01 08:00:00+08:00\",\"PC\",\"upgrader\",\"COM3\",\"completed\",0,9.000\r\n";
    folder.write("upgrades.csv", "\xEF\xBB\xBFtime,computer,program,port,outcome,exit_code,seconds\r\n" + line);
    const SendRun r = sendLog();
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(collector.acknowledgedIds(), std::vector<std::string>{derivedRecordId(line)});
}

TEST_F(MubtoolSend, EachWayOfNotSendingHasItsExitCode) {
    appendLines(2);
    collector.answerWith([](const FakeCollector::Batch&) { return FakeCollector::Reply{401, R"({"error":"unknown token"})"}; });
    SendRun r = sendLog();
    EXPECT_EQ(r.exitCode, 14) << r.out << r.err;
    EXPECT_NE(r.err.find("answered 401: unknown token"), std::string::npos) << r.err;

    collector.answerWith([](const FakeCollector::Batch&) { return FakeCollector::Reply{503, R"({"error":"database unavailable"})"}; });
    r = sendLog();
    EXPECT_EQ(r.exitCode, 13) << r.out << r.err;
    EXPECT_NE(r.out.find("; 2 wait\n"), std::string::npos) << r.out;

    collector.down();
    r = sendLog();
    EXPECT_EQ(r.exitCode, 13) << r.out << r.err;
    EXPECT_NE(r.err.find("no answer from " + collector.address() + "/records"), std::string::npos) << r.err;
    EXPECT_EQ(readSentMark(log), 0u);

    folder.write("notes.csv", "name,count\r\nscrews,4\r\n");
    r = send({"--log", folder.path("notes.csv"), "--to", collector.address(), "--token", "t"});
    EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
    EXPECT_NE(r.err.find("not an upgrade log"), std::string::npos) << r.err;
    EXPECT_EQ(send({"--log", folder.path("none.csv"), "--to", collector.address(), "--token", "t"}).exitCode, 4);

    r = send({"--log", log, "--to", collector.address()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("without a token"), std::string::npos) << r.err;
    EXPECT_EQ(send({"--log", log, "--to", "ftp://x", "--token", "t"}).exitCode, 1);
    EXPECT_EQ(send({"--log", log, "--to", collector.address(), "--token", "a b"}).exitCode, 1);
}

} // namespace
} // namespace mub::test
