// mubtool station run as the real program against several simulated
// machines: each machine upgraded and checked after its restart with its
// line in the log, the log after the program is killed, a log that cannot be
// written, Ctrl+C, and bad input.
#include "platform/gbk_text.h"
#include "tests/support/simulator_process.h"
#include "tests/support/temp_folder.h"
#include "tests/support/text_count.h"
#include "upgrade/program_version.h"
#include "upgrade_file/encode_upgrade_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace mub::test {
namespace {

using namespace std::chrono_literals;

struct StationRun {
    int exitCode = -1; // -1: killed
    std::string out, err;
    double stopSeconds = -1; // from the signal to the end
};

Bytes patternImage(std::size_t length, int seed) {
    Bytes image(length);
    for (std::size_t i = 0; i < length; ++i) image[i] = static_cast<std::uint8_t>((i * 31 + i / 97 + seed) & 0xFF);
    return image;
}

// Fields of a CSV record (commas outside quotes, plus one).
std::size_t fieldCount(const std::string& line) {
    std::size_t fields = 1;
    bool quoted = false;
    for (const char c : line) {
        if (c == '"') quoted = !quoted;
        if (c == ',' && !quoted) ++fields;
    }
    return fields;
}

class MubtoolStation : public ::testing::Test {
protected:
    std::string pack(const Bytes& image, const std::string& software = "1.01") {
        const auto bytes = encodeUpgradeFile(UpgradeTexts{"QM-3000", "HW-1.0", software}, image);
        EXPECT_TRUE(bytes.has_value());
        folder.write("firmware.mub", bytes ? std::string(bytes->begin(), bytes->end()) : std::string());
        return folder.path("firmware.mub");
    }

    // `machines` simulated machines, saving what they receive as saved-N.bin.
    std::unique_ptr<SimulatorProcess> simulate(int machines, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--machines", std::to_string(machines), "--save-image", folder.path("saved.bin")};
        args.insert(args.end(), extra.begin(), extra.end());
        auto sim = std::make_unique<SimulatorProcess>(args);
        EXPECT_TRUE(sim->started());
        return sim;
    }

    std::string portList(const SimulatorProcess& sim) const {
        std::string list;
        for (const auto& path : sim.paths()) list += (list.empty() ? "" : ",") + path;
        return list;
    }

    Bytes saved(int machine) const {
        const std::string bytes = folder.read("saved-" + std::to_string(machine) + ".bin");
        return Bytes(bytes.begin(), bytes.end());
    }

    // The log's lines after the byte-order mark, the header included.
    std::vector<std::string> logLines(const std::string& name = "upgrades.csv") const {
        const std::string text = folder.read(name);
        EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
        std::vector<std::string> lines;
        std::size_t at = 3;
        while (at < text.size()) {
            const std::size_t end = text.find("\r\n", at);
            EXPECT_NE(end, std::string::npos) << "a piece of a line at the end: " << text.substr(at);
            if (end == std::string::npos) break;
            lines.push_back(text.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    }

    // Runs mubtool station; when `signalOn` appears on stdout, sends `signal`
    // (after `delay`). A run still going after `limit` is killed and fails.
    StationRun station(std::vector<std::string> args, const std::string& signalOn = {}, int signal = SIGINT,
                std::chrono::milliseconds delay = 0ms, std::chrono::seconds limit = 90s) {
        const std::string program = command.empty() ? SimulatorProcess::binDir() + "/mubtool" : command[0];
        args.insert(args.begin(), {program, "station"});
        if (!command.empty()) args.erase(args.begin() + 1);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, folder.path("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, folder.path("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        StationRun run;
        const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0);
        if (rc != 0) return run;
        const auto start = std::chrono::steady_clock::now();
        std::optional<std::chrono::steady_clock::time_point> seen, signalled;
        int status = 0;
        for (;;) {
            if (::waitpid(pid, &status, WNOHANG) == pid) break;
            const auto now = std::chrono::steady_clock::now();
            if (!signalOn.empty() && !seen && folder.read("stdout").find(signalOn) != std::string::npos) seen = now;
            if (seen && !signalled && now - *seen >= delay) {
                ::kill(pid, signal);
                signalled = now;
            }
            if (now - start > limit) {
                ADD_FAILURE() << "mubtool station still running after " << limit.count() << " s; killed";
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        if (!signalOn.empty()) {
            EXPECT_TRUE(signalled) << "never saw " << signalOn;
        }
        if (signalled)
            run.stopSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - *signalled).count();
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = folder.read("stdout");
        run.err = folder.read("stderr");
        return run;
    }

    TempFolder folder;
    std::vector<std::string> command; // another program than mubtool station
};

TEST_F(MubtoolStation, EveryMachineIsUpgradedCheckedAfterItsRestartAndLogged) {
    constexpr int machines = 4;
    const Bytes image = patternImage(5000, 1);
    const std::string file = pack(image);
    auto sim = simulate(machines, {"--reboot", "400"});
    const StationRun r = station({"--ports", portList(*sim), "--baud", "115200", "--count", std::to_string(machines),
                           "--verify", "--json", "--log", folder.path("upgrades.csv"), file});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    // One JSON object per log line on stdout, nothing else: each machine's
    // upgrade, then its check after the restart with the same record id.
    EXPECT_EQ(occurrences(r.out, "\n"), static_cast<std::size_t>(2 * machines)) << r.out;
    EXPECT_EQ(occurrences(r.out, "\"outcome\": \"completed\""), static_cast<std::size_t>(machines)) << r.out;
    EXPECT_EQ(occurrences(r.out, "\"outcome\": \"verified\""), static_cast<std::size_t>(machines)) << r.out;
    EXPECT_EQ(occurrences(r.out, "\"softwareAfter\": \"1.01\""), static_cast<std::size_t>(machines)) << r.out;
    for (int m = 1; m <= machines; ++m) EXPECT_EQ(saved(m), image) << "machine " << m;
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 1u + 2 * machines);
    std::map<std::string, std::string> outcomesById;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_NE(lines[i].find("\"mubtool station\",\"/dev/"), std::string::npos) << lines[i];
        const bool verified = lines[i].find(",\"1.00\",\"1.01\",\"verified\",0,40,40,0,0,") != std::string::npos;
        EXPECT_TRUE(verified || lines[i].find(",\"1.00\",\"\",\"completed\",0,40,40,0,0,") != std::string::npos)
            << lines[i];
        outcomesById[lines[i].substr(lines[i].rfind(',') + 1)] += verified ? "v" : "c";
    }
    EXPECT_EQ(outcomesById.size(), static_cast<std::size_t>(machines));
    for (const auto& [id, outcomes] : outcomesById) EXPECT_EQ(outcomes, "cv") << id;
    // The display went to stderr, one plain line per event, and the totals.
    EXPECT_EQ(occurrences(r.err, " machine QM-3000 HW-1.0 1.00"), static_cast<std::size_t>(machines)) << r.err;
    EXPECT_NE(r.err.find("done 4, failed 0, "), std::string::npos) << r.err;
}

TEST_F(MubtoolStation, MachinesComeOneAfterAnotherOnAPortEachOnceItsPredecessorHasGone) {
    // The machine restarts after its upgrade, and 2 s later it is swapped
    // for a new one (software 1.00 again): the port takes the new one only
    // after the first has gone.
    const std::string file = pack(patternImage(1000, 2));
    auto sim = simulate(1, {"--reboot", "200", "--swap-after", "2000", "--away", "4000"});
    const StationRun r = station({"--ports", sim->path(), "--count", "2", "--log", folder.path("upgrades.csv"), file});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(occurrences(r.out, " machine gone"), 1u) << r.out;
    EXPECT_EQ(occurrences(r.out, " completed: "), 2u) << r.out;
    EXPECT_EQ(logLines().size(), 3u);
}

TEST_F(MubtoolStation, AMachinePulledAtTheBeepIsLoggedAtOnceAndTheNextOneIsUpgraded) {
    // Killed while the port waits for the machine to come back: its
    // completed line is already there.
    const Bytes image = patternImage(1000, 7);
    const std::string file = pack(image);
    {
        auto sim = simulate(1, {"--reboot", "20000"});
        const StationRun r = station({"--ports", sim->path(), "--verify", "--log", folder.path("upgrades.csv"), file},
                                     " completed: ", SIGKILL, 200ms);
        EXPECT_EQ(r.exitCode, -1);
        const auto lines = logLines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_NE(lines[1].find(",\"completed\",0,"), std::string::npos) << lines[1];
    }
    // Pulled at the beep and a machine not yet upgraded put in its place
    // before the first could answer: the port upgrades the new one.
    auto sim = simulate(1, {"--replaced-after-end", "300"});
    const StationRun r = station({"--ports", sim->path(), "--count", "2", "--log", folder.path("upgrades.csv"), file});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(occurrences(r.out, " completed: "), 2u) << r.out;
    EXPECT_EQ(logLines().size(), 4u);
    sim.reset(); // it saves the image after the end mark, which it does not answer
    EXPECT_EQ(folder.read("saved.bin"), std::string(image.begin(), image.end())); // one machine: no number
}

TEST_F(MubtoolStation, TheStationWindowUpgradesEveryMachineAndEndsAtTheCount) {
    // mub-station, the window, copied to a folder of its own (station.ini is
    // kept beside it), drawn off screen.
    const std::string window = SimulatorProcess::binDir() + "/mub-station";
    if (::access(window.c_str(), X_OK) != 0) GTEST_SKIP() << "built without the window";
    folder.makeFolder("app");
    std::filesystem::copy_file(window, folder.path("app/mub-station"));
    command = {folder.path("app/mub-station")};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    constexpr int machines = 4;
    const Bytes image = patternImage(3000, 8);
    const std::string file = pack(image);
    auto sim = simulate(machines, {"--reboot", "300"});
    const StationRun r = station({"--ports", portList(*sim), "--count", std::to_string(machines), "--log",
                                  folder.path("upgrades.csv"), file});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 1u + machines);
    for (std::size_t i = 1; i < lines.size(); ++i)
        EXPECT_NE(lines[i].find("\"mub-station\",\"/dev/"), std::string::npos) << lines[i];
    EXPECT_EQ(occurrences(folder.read("upgrades.csv"), ",\"completed\",0,"), static_cast<std::size_t>(machines));
    sim.reset();
    for (int m = 1; m <= machines; ++m) EXPECT_EQ(saved(m), image) << "machine " << m;
}

TEST_F(MubtoolStation, AProgramKilledAtAnyMomentLeavesOnlyWholeLines) {
    // The station is killed at different moments, each time after some
    // lines were written (each run upgrades the machines once more).
    const std::string file = pack(patternImage(300, 3));
    auto sim = simulate(4);
    std::size_t before = 0;
    for (const auto delay : {0ms, 130ms, 270ms}) {
        SCOPED_TRACE(delay.count());
        const StationRun r = station({"--ports", portList(*sim), "--log", folder.path("upgrades.csv"), file}, " completed: ",
                              SIGKILL, delay);
        EXPECT_EQ(r.exitCode, -1);
        const auto lines = logLines();
        EXPECT_GT(lines.size(), before);
        for (std::size_t i = 1; i < lines.size(); ++i) {
            EXPECT_EQ(fieldCount(lines[i]), 20u) << lines[i];
            EXPECT_NE(lines[i].find(",\"" + programVersion() + "\""), std::string::npos) << lines[i];
        }
        before = lines.size();
    }
}

TEST_F(MubtoolStation, ALogThatCannotBeWrittenIsToldOnceAndTheUpgradesGoOn) {
    const Bytes image = patternImage(2000, 4);
    const std::string file = pack(image);
    auto sim = simulate(2);
    const StationRun r = station({"--ports", portList(*sim), "--count", "2", "--log", "/proc/mub-station/upgrades.csv", file});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(occurrences(r.out, "upgrade log /proc/mub-station/upgrades.csv: cannot open"), 1u) << r.out;
    EXPECT_EQ(saved(1), image);
    EXPECT_EQ(saved(2), image);
}

TEST_F(MubtoolStation, CtrlCStopsEveryPortAndTheirMachinesAreLoggedAsStopped) {
    const std::string file = pack(patternImage(60000, 5));
    auto sim = simulate(2, {"--baud", "9600"});
    const StationRun r = station({"--ports", portList(*sim), "--baud", "9600", "--log", folder.path("upgrades.csv"), file},
                          "machine QM-3000", SIGINT, 1500ms);
    EXPECT_EQ(r.exitCode, 10) << r.out << r.err;
    EXPECT_LT(r.stopSeconds, 2.0) << r.out;
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 3u);
    for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_NE(lines[i].find(",\"stopped\",9,"), std::string::npos) << lines[i];
    EXPECT_FALSE(folder.exists("saved-1.bin"));
}

TEST_F(MubtoolStation, BadInputIsRefusedClearly) {
    const std::string file = pack(patternImage(100, 6));
    auto sim = simulate(1);
    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* text;
    } rows[] = {
        {{file}, 1, "--ports is required"},
        {{"--ports", sim->path() + ",/dev/../dev/pts/" + sim->path().substr(sim->path().rfind('/') + 1), file}, 1,
         "are the same device"},
        {{"--ports", "/dev/no-such-port", file}, 1, "not COM1..COM255, usb or an existing device path"},
        {{"--ports", sim->path(), "--count", "0", file}, 1, "--count 0"},
        {{"--ports", sim->path(), "--baud", "300", file}, 1, "--baud 300"},
        {{"--ports", sim->path(), folder.path("missing.mub")}, 4, ""},
        {{"--ports", sim->path(), "--approved", folder.path("other.txt"), file}, 4, "not on the approved list"},
        {{"--ports", sim->path(), "--approved", folder.path("bad.txt"), file}, 1, "line 2: not an MD5"},
    };
    folder.write("other.txt", "# line 3\n0123456789abcdef0123456789ABCDEF\n");
    folder.write("bad.txt", "0123456789abcdef0123456789abcdef\nfirmware.mub\n");
    for (const auto& row : rows) {
        const StationRun r = station(row.args, {}, SIGINT, 0ms, 20s);
        EXPECT_EQ(r.exitCode, row.exitCode) << r.out << r.err;
        EXPECT_NE(r.err.find(row.text), std::string::npos) << r.err;
    }
}

} // namespace
} // namespace mub::test
