// mubtool doctor run as a user would, from a copy of the program folder
// (mubtool and the stand-in bridge library) with a simulated machine's
// pseudo-terminal and one the test holds locked as extra ports.
#include "platform/host_facts.h"
#include "tests/link/raw_pty.h"
#include "tests/support/simulator_process.h"
#include "tests/support/temp_folder.h"
#include "upgrade/program_version.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace mub {
namespace {

namespace fs = std::filesystem;

struct DoctorRun {
    int exitCode = -1;
    std::string out, err;
};

class MubtoolDoctor : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string bin = test::SimulatorProcess::binDir();
        for (const char* name : {"mubtool", "libBridgeMini.so"}) fs::copy_file(bin + "/" + name, folder_.path(name));
        logs_.makeFolder("x");
    }

    // ./mubtool doctor ARGS in the program's folder; output kept elsewhere.
    DoctorRun doctor(std::vector<std::string> args) {
        args.insert(args.begin(), {folder_.path("mubtool"), "doctor"});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string out = logs_.path("stdout"), err = logs_.path("stderr");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, folder_.root().c_str());
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        DoctorRun run;
        const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0);
        if (rc != 0) return run;
        int status = 0;
        ::waitpid(pid, &status, 0);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = logs_.read("stdout");
        run.err = logs_.read("stderr");
        return run;
    }

    // The line of the ports table that names `device`.
    static std::string portLine(const std::string& report, const std::string& device) {
        const std::size_t at = report.find("  " + device + "  ");
        if (at == std::string::npos) return {};
        const std::size_t begin = report.rfind('\n', at) + 1;
        return report.substr(begin, report.find('\n', at) - begin);
    }

    test::TempFolder folder_; // the program's folder, and the current folder
    test::TempFolder logs_;
};

TEST_F(MubtoolDoctor, ReportsTheProgramThePortsAndTheBridgeAndWritesOnlyItself) {
    test::SimulatorProcess machine;
    ASSERT_TRUE(machine.started());
    test::RawPty held;
    const int holder = ::open(held.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

    const DoctorRun run = doctor({"--port", machine.path(), "--port", held.path});
    ::close(holder);
    ASSERT_EQ(run.exitCode, 0) << run.err;

    // Nothing but the report is left, named after the computer and the time.
    const std::vector<std::string> entries = folder_.entries();
    ASSERT_EQ(entries.size(), 3u) << ::testing::PrintToString(entries);
    const std::string& name = entries[0];
    ASSERT_TRUE(std::regex_match(name, std::regex("doctor-" + computerName() + "-20[0-9]{6}-[0-9]{6}\\.txt"))) << name;
    EXPECT_EQ(entries[1], "libBridgeMini.so");
    EXPECT_EQ(entries[2], "mubtool");
    EXPECT_EQ(run.err, "report written to " + name + "\n");
    const std::string report = folder_.read(name);
    EXPECT_EQ(report, run.out);

    EXPECT_NE(report.find("program:   mubtool " + programVersion() + "\n"), std::string::npos) << report;
    EXPECT_NE(report.find("this program:  64-bit\n"), std::string::npos);
    EXPECT_NE(report.find("settings and log folder:  " + folder_.root() + " (writable)\n"), std::string::npos);
    // The machine's terminal opens (the simulator keeps its own end open);
    // the one held locked is busy and not opened.
    const std::string simulated = portLine(report, machine.path());
    EXPECT_NE(simulated.find("pty     -        opened and closed in "), std::string::npos) << report;
    EXPECT_NE(simulated.find("; also open in "), std::string::npos) << simulated;
    const std::string locked = portLine(report, held.path);
    EXPECT_NE(locked.find("busy, not opened: held by " + std::to_string(::getpid()) + " ("), std::string::npos) << report;

    EXPECT_NE(report.find("present:             yes, ELF 64-bit (x86-64): fits this 64-bit program\n"), std::string::npos);
    EXPECT_NE(report.find("functions:           MA101_ConnectBridge, MA101_SetMode, MA101_ClearDevBuffer, "
                          "MA101_WriteData, MA101_ReadData, MA101_DisconnectBridge\n"),
              std::string::npos);
    EXPECT_NE(report.find("calling convention:  the platform's own"), std::string::npos);
    EXPECT_NE(report.find("connect attempt:     status 0xE0000003: no bridge found"), std::string::npos);
}

TEST_F(MubtoolDoctor, JsonToAFileOfOnesChoosingAndItsFailures) {
    test::SimulatorProcess machine;
    ASSERT_TRUE(machine.started());
    const DoctorRun json = doctor({"--json", "--out", logs_.path("x/report.json"), "--port=" + machine.path()});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(logs_.read("x/report.json"), json.out);
    EXPECT_EQ(json.out.front(), '{');
    EXPECT_EQ(json.out.substr(json.out.size() - 2), "}\n");
    EXPECT_NE(json.out.find("\"programVersion\": \"" + programVersion() + "\""), std::string::npos);
    EXPECT_NE(json.out.find("\"device\": \"" + machine.path() + "\", \"driver\": \"pty\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"open\": \"opened\""), std::string::npos);
    EXPECT_NE(json.out.find("\"convention\": \"the platform's own\""), std::string::npos);
    EXPECT_EQ(folder_.entries(), (std::vector<std::string>{"libBridgeMini.so", "mubtool"}));

    // A folder that is not there: the report is printed, not written.
    const DoctorRun unwritable = doctor({"--no-open", "--out", logs_.path("missing/report.txt")});
    EXPECT_EQ(unwritable.exitCode, 4);
    EXPECT_NE(unwritable.out.find("not tried (--no-open)"), std::string::npos) << unwritable.out;
    EXPECT_NE(unwritable.err.find("mubtool doctor: cannot write the report to " + logs_.path("missing/report.txt") + ": "),
              std::string::npos)
        << unwritable.err;
    EXPECT_FALSE(fs::exists(logs_.path("missing")));

    const DoctorRun usage = doctor({"--out"});
    EXPECT_EQ(usage.exitCode, 1);
    EXPECT_EQ(usage.err, "mubtool doctor: missing value for --out\nsee 'mubtool doctor --help'\n");
    EXPECT_EQ(doctor({"--bogus"}).exitCode, 1);
    EXPECT_EQ(folder_.entries(), (std::vector<std::string>{"libBridgeMini.so", "mubtool"}));
}

} // namespace
} // namespace mub
