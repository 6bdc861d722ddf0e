// Four stations (mubtool station against simulated machines) send their
// logs to one collector while the collector is killed and started again and
// its database is stopped and started: in the end every line of every log
// is in the database exactly once, field for field, under its station.
#include "tests/collector/collector_test_support.h"
#include "tests/support/collector_process.h"
#include "tests/support/simulator_process.h"
#include "tests/support/temp_folder.h"
#include "upgrade_file/encode_upgrade_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace mub::test {
namespace {

using namespace std::chrono_literals;

constexpr int stations = 4;
constexpr int machinesPerStation = 6;

// A program of the build started with its output in files.
class Child {
public:
    Child(const std::vector<std::string>& args, const std::string& outPath) {
        std::vector<std::string> copy = args;
        std::vector<char*> argv;
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (::posix_spawn(&pid_, copy[0].c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    // The exit code once it ended within `most`; -1 when killed or still going.
    int wait(std::chrono::seconds most) {
        const auto until = std::chrono::steady_clock::now() + most;
        int status = 0;
        while (pid_ > 0) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            if (std::chrono::steady_clock::now() > until) return -1;
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
};

std::string tokenOf(int station) { return "token-of-line-station-" + std::to_string(station) + "-abcdef"; }
std::string nameOf(int station) { return "线体" + std::to_string(station); }

TEST(StationsToCollector, EveryLineArrivesOnceThroughACollectorRestartAndADatabaseStop) {
    ASSERT_TRUE(clusterReady());
    const std::string conninfo = freshDatabase();
    TempFolder folder;
    std::string tokens;
    for (int s = 1; s <= stations; ++s) tokens += tokenOf(s) + " " + nameOf(s) + "\n";
    folder.write("tokens", tokens);
    Bytes image(3000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const auto packed = encodeUpgradeFile(UpgradeTexts{"QM-3000", "HW-1.0", "1.01"}, image);
    ASSERT_TRUE(packed);
    folder.write("firmware.mub", std::string(packed->begin(), packed->end()));

    const std::vector<std::string> collectorArgs{"--db", conninfo, "--tokens", folder.path("tokens"), "--listen"};
    auto args = collectorArgs;
    args.push_back("127.0.0.1:0");
    auto collector = std::make_unique<CollectorProcess>(args);
    ASSERT_TRUE(collector->listening()) << collector->output();
    const std::string listen = "127.0.0.1:" + std::to_string(collector->port());
    const std::string address = "http://" + listen;

    // Each machine restarts after its upgrade, is taken away once the station
    // has seen it back and a new one is in its place a second later: about
    // 4 s a machine at the line rate.
    std::vector<std::unique_ptr<SimulatorProcess>> machines;
    std::vector<std::unique_ptr<Child>> running;
    const std::string mubtool = SimulatorProcess::binDir() + "/mubtool";
    for (int s = 1; s <= stations; ++s) {
        machines.push_back(std::make_unique<SimulatorProcess>(
            std::vector<std::string>{"--baud", "115200", "--reboot", "800", "--swap-after", "1500", "--away", "1000"}));
        ASSERT_TRUE(machines.back()->started());
        const std::string log = folder.path("upgrades-" + std::to_string(s) + ".csv");
        running.push_back(std::make_unique<Child>(
            std::vector<std::string>{mubtool, "station", "--verify", "--ports", machines.back()->path(), "--count",
                                     std::to_string(machinesPerStation), "--log", log, "--send-to", address,
                                     "--token", tokenOf(s), folder.path("firmware.mub")},
            folder.path("station-" + std::to_string(s) + ".out")));
    }

    std::this_thread::sleep_for(4s);
    EXPECT_NE(collector->stop(/*kill=*/true), -1);
    std::this_thread::sleep_for(3s);
    args = collectorArgs;
    args.push_back(listen);
    collector = std::make_unique<CollectorProcess>(args);
    ASSERT_TRUE(collector->listening()) << collector->output();
    std::this_thread::sleep_for(4s);
    ASSERT_TRUE(sharedCluster().stop()) << sharedCluster().error();
    std::this_thread::sleep_for(3s);
    ASSERT_TRUE(sharedCluster().start()) << sharedCluster().error();

    for (int s = 1; s <= stations; ++s)
        EXPECT_EQ(running[s - 1]->wait(120s), 0) << folder.read("station-" + std::to_string(s) + ".out");
    // What a station could not send before it ended, the next sender sends.
    for (int s = 1; s <= stations; ++s) {
        Child send({mubtool, "send", "--log", folder.path("upgrades-" + std::to_string(s) + ".csv"), "--to", address,
                    "--token", tokenOf(s)},
                   folder.path("send.out"));
        EXPECT_EQ(send.wait(60s), 0) << folder.read("send.out");
    }

    collector::Database database(conninfo, 1);
    std::map<std::pair<std::string, std::string>, StationRecord> stored;
    std::size_t rows = 0;
    for (StationRecord& r : storedRecords(database)) {
        ++rows;
        stored[{r.record.recordId, r.record.outcome}] = std::move(r);
    }
    std::size_t lines = 0;
    for (int s = 1; s <= stations; ++s) {
        std::string error;
        const auto read = readLogRecords(folder.read("upgrades-" + std::to_string(s) + ".csv"), error);
        ASSERT_TRUE(read) << error;
        EXPECT_TRUE(read->skipped.empty());
        EXPECT_GE(read->records.size(), static_cast<std::size_t>(machinesPerStation));
        for (const LogRecord& line : read->records) {
            ++lines;
            const auto found = stored.find({line.recordId, line.outcome});
            if (found == stored.end()) {
                ADD_FAILURE() << "not in the database: station " << s << " " << line.recordId << " " << line.outcome;
                continue;
            }
            EXPECT_EQ(found->second.station, nameOf(s));
            EXPECT_TRUE(found->second.record == line) << line.recordId << " " << line.outcome;
        }
    }
    EXPECT_EQ(rows, lines);
    EXPECT_EQ(stored.size(), rows); // no line twice
}

} // namespace
} // namespace mub::test
