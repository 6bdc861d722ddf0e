// The station window's logic without a toolkit: production mode (the
// password kept only as a salted hash, files refused unless approved, the
// command line unable to change what is locked) and the tiles' words and
// colours for what a port is doing.
#include "platform/gbk_text.h"
#include "station/station_window.h"
#include "tests/support/fake_collector.h"
#include "tests/support/temp_folder.h"
#include "upgrade_file/encode_upgrade_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace mub {
namespace {

class StationWindowLock : public ::testing::Test {
protected:
    StationWindowLock() {
        for (const char* name : {"a", "b"}) {
            const auto bytes = encodeUpgradeFile(UpgradeTexts{"QM-3000", "HW-1.0", name}, Bytes(300, 0x11));
            folder.write(std::string(name) + ".mub", std::string(bytes->begin(), bytes->end()));
        }
        folder.write("port0", ""); // an existing path stands for a device; no port is started
        folder.write("port1", "");
    }
    StationWindowHost host() const {
        StationWindowHost h;
        h.settingsPath = folder.path("station.ini");
        h.defaultLogPath = folder.path("upgrades.csv");
        h.usbPorts = [] { return std::vector<std::string>{}; };
        return h;
    }
    std::string path(const char* name) const { return folder.path(name); }

    test::TempFolder folder;
};

bool contains(const std::vector<std::string>& lines, const char* utf8Text) {
    for (const std::string& line : lines)
        if (findGbk(line, gbk(utf8Text)) != std::string::npos) return true;
    return false;
}

TEST_F(StationWindowLock, ALockedStationKeepsItsSettingsAndTakesOnlyApprovedFiles) {
    std::string error;
    {
        StationWindow engineer(host());
        ASSERT_TRUE(engineer.begin({"--ports", path("port0"), "--verify", path("a.mub")}, error)) << utf8(error);
        ASSERT_TRUE(engineer.lockStation("线长 pass", error)) << utf8(error);
        EXPECT_TRUE(engineer.locked());
    }
    // The password is nowhere in the settings, only its salted hash.
    const std::string ini = folder.read("station.ini");
    EXPECT_EQ(ini.find("pass"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Hash="), std::string::npos) << ini;

    StationWindow operatorView(host());
    ASSERT_TRUE(operatorView.begin({"--ports", path("port1"), "--count", "3", path("b.mub")}, error));
    const std::vector<std::string> notices = operatorView.takeNotices();
    EXPECT_TRUE(contains(notices, "忽略命令行的 --ports"));
    EXPECT_TRUE(contains(notices, "忽略命令行的升级文件"));
    EXPECT_EQ(operatorView.options().ports, std::vector<std::string>{path("port0")});
    EXPECT_TRUE(operatorView.options().verify);
    EXPECT_EQ(operatorView.options().count, 3); // not locked: tests and benchmarks set it
    EXPECT_EQ(operatorView.tiles().size(), 1u);

    // Another file is refused with its reason; the approved one is taken.
    EXPECT_FALSE(operatorView.openFile(path("b.mub"), error));
    EXPECT_NE(findGbk(error, gbk("不在批准清单上")), std::string::npos) << utf8(error);
    EXPECT_TRUE(operatorView.openFile(path("a.mub"), error)) << utf8(error);

    EXPECT_FALSE(operatorView.unlockStation("wrong"));
    EXPECT_TRUE(operatorView.locked());
    EXPECT_TRUE(operatorView.unlockStation("线长 pass"));
    EXPECT_TRUE(operatorView.openFile(path("b.mub"), error)) << utf8(error);
    EXPECT_TRUE(operatorView.lockAgain(error));
    EXPECT_TRUE(operatorView.locked());
}

TEST_F(StationWindowLock, ALockedStationSendsItsRecordsWhereItWasLockedAndCountsWhatWaits) {
    test::FakeCollector locked, other;
    locked.down();
    std::string error;
    StationWindowHost first = host();
    first.records = {locked.address(), "locked-token"};
    {
        StationWindow engineer(first);
        ASSERT_TRUE(engineer.begin({"--ports", path("port0"), path("a.mub")}, error)) << utf8(error);
        ASSERT_TRUE(engineer.lockStation("pass", error)) << utf8(error);
    }
    UpgradeLogEntry entry;
    entry.outcome = "completed";
    ASSERT_TRUE(UpgradeLog(folder.path("upgrades.csv")).append(entry).written);

    // cfg.ini names another collector since: the locked one is kept.
    StationWindowHost later = host();
    later.records = {other.address(), "other-token"};
    StationWindow operatorView(later);
    ASSERT_TRUE(operatorView.begin({}, error)) << utf8(error);
    EXPECT_TRUE(contains(operatorView.takeNotices(), "记录仍发往锁定时的收集服务器"));
    EXPECT_EQ(operatorView.records().address, locked.address());
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (findGbk(operatorView.totalsLines()[0], waitingRecordsText(1)) == std::string::npos &&
           std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(findGbk(operatorView.totalsLines()[0], waitingRecordsText(1)), std::string::npos)
        << utf8(operatorView.totalsLines()[0]);
    EXPECT_TRUE(other.batches().empty());
}

TEST(StationTiles, EachStateInWordsAndColourAndTheLastResultUntilTheNextMachine) {
    StationModel::Port p;
    p.name = "COM3";
    p.model = "QM-3000";
    p.hardware = "HW-1.0";
    p.software = "1.00";
    p.percent = 40;
    const struct {
        PortState state;
        const char* outcome;
        int exitCode;
        std::string failureText;
        const char* stateText;
        TileColour colour;
        const char* detail; // part of it
    } rows[] = {
        {PortState::Identifying, "", 0, "", "识别中", TileColour::Blue, ""},
        {PortState::Upgrading, "", 0, "", "升级中", TileColour::Blue, ""},
        {PortState::Verifying, "completed", 0, "", "校验中", TileColour::Amber, "确认版本"},
        {PortState::Removing, "verified", 0, "", "合格", TileColour::Green, "请取下机器"},
        {PortState::Removing, "model-mismatch", 5, "", "失败", TileColour::Red, "机型不符"},
        {PortState::Removing, "not-connected", 6, gbk("机器信息读取失败！"), "失败", TileColour::Red, "机器信息读取失败！"},
        {PortState::Waiting, "verify-mismatch", 11, "", "等待机器", TileColour::Grey, "上一台：失败，升级后版本不符"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stateText);
        p.state = row.state;
        p.outcome = row.outcome;
        p.exitCode = row.exitCode;
        p.failureText = row.failureText;
        const StationTile tile = stationTile(p, true);
        EXPECT_EQ(utf8(tile.state), row.stateText);
        EXPECT_EQ(tile.colour, row.colour);
        if (*row.detail) EXPECT_NE(findGbk(tile.detail, gbk(row.detail)), std::string::npos) << utf8(tile.detail);
        else EXPECT_EQ(tile.detail, "");
        EXPECT_EQ(tile.percent, row.state == PortState::Upgrading ? 40 : -1);
        EXPECT_EQ(utf8(tile.machine), "QM-3000  HW-1.0  1.00");
    }
}

} // namespace
} // namespace mub
