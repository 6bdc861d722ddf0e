#include "app/settings/settings_location.h"

#include "platform/profile_file.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace mub {
namespace {

using test::TempFolder;

TEST(SettingsLocation, ConfigFolderFollowsTheXdgRules) {
    EXPECT_EQ(userConfigFolder("/x/cfg", "/home/op"), "/x/cfg/upgrader");
    EXPECT_EQ(userConfigFolder(nullptr, "/home/op"), "/home/op/.config/upgrader");
    EXPECT_EQ(userConfigFolder("", "/home/op"), "/home/op/.config/upgrader");
    EXPECT_EQ(userConfigFolder("relative", "/home/op"), "/home/op/.config/upgrader");
    EXPECT_EQ(userConfigFolder(nullptr, "relative"), "");
    EXPECT_EQ(userConfigFolder(nullptr, nullptr), "");
}

class SettingsPlace : public ::testing::Test {
protected:
    TempFolder folder;
    std::string programDir = folder.path("app");
    std::string configFolder = folder.path("home/.config/upgrader");
    void SetUp() override { folder.makeFolder("app"); }
};

TEST_F(SettingsPlace, WritableProgramFolderKeepsTheFileBesideTheProgram) {
    EXPECT_EQ(settingsPathFor(programDir, true, configFolder), programDir + "/cfg.ini");
    EXPECT_EQ(existingSettingsPathFor(programDir, true, configFolder), programDir + "/cfg.ini");
    EXPECT_FALSE(folder.exists("home"));
}

TEST_F(SettingsPlace, ReadOnlyProgramFolderUsesTheConfigFolderStartedFromThePreset) {
    // A read-only preset beside the program, with a port map.
    folder.write("app/cfg.ini", "[Port]\r\nPort=COM3\r\n[Ports]\r\nCOM3=/dev/pts/9\r\n");
    std::filesystem::permissions(folder.path("app/cfg.ini"), std::filesystem::perms(0444));

    // Looking makes nothing: the preset is what would be read.
    EXPECT_EQ(existingSettingsPathFor(programDir, false, configFolder), programDir + "/cfg.ini");
    EXPECT_FALSE(folder.exists("home"));

    std::string path = settingsPathFor(programDir, false, configFolder);
    EXPECT_EQ(path, configFolder + "/cfg.ini");
    EXPECT_EQ(existingSettingsPathFor(programDir, false, configFolder), path);
    EXPECT_EQ(readProfileString(path, "Ports", "COM3"), "/dev/pts/9");
    // The user's copy is the user's to change; the preset stays as it was.
    EXPECT_TRUE(writeProfileString(path, "Port", "Port", "COM5"));
    EXPECT_EQ(readProfileString(folder.path("app/cfg.ini"), "Port", "Port"), "COM3");
    // Later starts keep the user's copy.
    EXPECT_EQ(settingsPathFor(programDir, false, configFolder), path);
    EXPECT_EQ(readProfileString(path, "Port", "Port"), "COM5");
}

TEST_F(SettingsPlace, WithoutPresetTheConfigFolderIsMadeAndTheFileLeftToLoading) {
    // Before the first start, tools name the file the window will make.
    EXPECT_EQ(existingSettingsPathFor(programDir, false, configFolder), configFolder + "/cfg.ini");
    EXPECT_EQ(settingsPathFor(programDir, false, configFolder), configFolder + "/cfg.ini");
    EXPECT_TRUE(std::filesystem::is_directory(configFolder));
    EXPECT_FALSE(std::filesystem::exists(configFolder + "/cfg.ini"));
}

// A package's program folder keeps no settings, even for a user (root)
// who may write it.
TEST_F(SettingsPlace, MarkedProgramFolderKeepsNoSettingsEvenWhenWritable) {
    EXPECT_TRUE(settingsBesideProgram(programDir));
    folder.write(std::string("app/") + perUserSettingsMarker, "installed\n");
    EXPECT_FALSE(settingsBesideProgram(programDir));
}

TEST_F(SettingsPlace, NoUsableConfigFolderFallsBackToTheProgramFolder) {
    folder.write("blocker", "a file where the folder would go");
    EXPECT_EQ(writableFolderFor(programDir, false, folder.path("blocker/upgrader")), programDir);
    EXPECT_EQ(writableFolderFor(programDir, false, ""), programDir);
}

} // namespace
} // namespace mub
