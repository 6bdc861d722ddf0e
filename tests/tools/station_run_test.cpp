// The station's port threads against simulated machines: a port stopped on
// its own while the others go on, started again, and a port that joins later
// (the same device under a second name joins once).
#include "station/station_options.h"
#include "station/station_run.h"
#include "tests/support/simulator_process.h"
#include "tests/support/temp_folder.h"
#include "upgrade_file/encode_upgrade_file.h"
#include "upgrade_file/open_upgrade_file.h"

#include <gtest/gtest.h>

#include <thread>

namespace mub::test {
namespace {

using namespace std::chrono_literals;

bool waitFor(const std::function<bool()>& condition, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

TEST(StationRun, PortsStopAndStartOnTheirOwnAndLaterPortsJoinOnce) {
    TempFolder folder;
    const auto bytes = encodeUpgradeFile(UpgradeTexts{"QM-3000", "HW-1.0", "1.01"}, Bytes(20000, 0x3C));
    ASSERT_TRUE(bytes);
    folder.write("a.mub", std::string(bytes->begin(), bytes->end()));
    const UpgradeFileRead file = readUpgradeFileAt(folder.path("a.mub"));
    ASSERT_TRUE(file.ok());
    // Slow enough at 9600 baud for a port to be stopped in the middle.
    SimulatorProcess machines({"--machines", "3", "--baud", "9600", "--reboot", "300"});
    ASSERT_TRUE(machines.started());

    auto portsOf = [](std::vector<std::string> names) {
        std::vector<StationPort> ports;
        std::string error;
        EXPECT_EQ(resolveStationPorts(names, PortTable(), [] { return std::vector<std::string>{}; }, ports, error),
                  PortsResult::Ok)
            << error;
        return ports;
    };
    std::vector<StationPort> first = portsOf({machines.paths()[0], machines.paths()[1]});
    StationModel model({first[0].name, first[1].name});
    UpgradeLog log(folder.path("upgrades.csv"));
    StationSlots slots(0);
    StationRun::Setup setup;
    setup.baudIndex = 1; // 9600
    setup.job.file = &file.file;
    setup.job.log = &log;
    setup.job.model = &model;
    setup.job.machineSlots = &slots;
    StationRun run(setup, first);
    run.startAll();
    const auto upgrading = [&](std::size_t port) {
        return [&, port] { return model.ports().at(port).state == PortState::Upgrading; };
    };
    ASSERT_TRUE(waitFor(upgrading(0), 10s));
    ASSERT_TRUE(waitFor(upgrading(1), 10s));

    // Port 0 stops (its machine logged as stopped); port 1 goes on.
    run.stop(0);
    ASSERT_TRUE(waitFor([&] { return !run.running(0); }, 5s));
    EXPECT_EQ(model.ports()[0].outcome, "stopped");
    EXPECT_TRUE(run.running(1));
    EXPECT_EQ(model.ports()[1].state, PortState::Upgrading);

    // The third machine joins; the second once more, named through a
    // symbolic link, does not.
    ASSERT_EQ(::symlink(machines.paths()[1].c_str(), folder.path("link").c_str()), 0);
    EXPECT_EQ(run.join(portsOf({machines.paths()[2], folder.path("link")}), true), 1u);
    EXPECT_EQ(run.portCount(), 3u);
    EXPECT_EQ(model.ports().size(), 3u);
    EXPECT_TRUE(waitFor(upgrading(2), 10s));

    // Started again, port 0 upgrades its machine once more.
    run.start(0);
    EXPECT_TRUE(waitFor(upgrading(0), 10s)) << portStateText(model.ports()[0].state);
    run.stopAll();
    EXPECT_TRUE(waitFor([&] { return !run.anyRunning(); }, 5s));
}

} // namespace
} // namespace mub::test
