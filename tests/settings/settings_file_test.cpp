#include "app/settings/port_overrides.h"
#include "app/settings/settings_file.h"

#include "platform/gbk_text.h"
#include "platform/profile_file.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace mub {
namespace {

using test::TempFolder;

const std::string freshFile = "[Port]\r\nPort=COM1\r\nBaudRate=57600\r\n[History]\r\nFilePath=\r\n[ImportHistory]\r\nCount=0\r\n";

class SettingsFile : public ::testing::Test {
protected:
    TempFolder folder;
    std::string path = folder.path("cfg.ini");
};

TEST_F(SettingsFile, FirstStartWritesTheDefaultFile) {
    LoadedSettings loaded = loadSettings(folder.root());
    EXPECT_EQ(loaded.settingsPath, path);
    EXPECT_EQ(folder.read("cfg.ini"), freshFile);
    EXPECT_FALSE(loaded.usbMode);
    EXPECT_EQ(loaded.portName, "COM1");
    EXPECT_EQ(loaded.baudIndex, 5);
    EXPECT_EQ(baudRateTexts[static_cast<std::size_t>(loaded.baudIndex)], "57600");
    EXPECT_EQ(loaded.countText, "0");
    EXPECT_EQ(loaded.openDialogFolder, folder.root());
    EXPECT_TRUE(settingsComplete(path));
}

TEST_F(SettingsFile, IncompleteFileGetsOnlyItsMissingValues) {
    // Without Count: the stored port, baud rate and file path survive.
    folder.write("cfg.ini", "[Port]\r\nPort=USB\r\nBaudRate=115200\r\n[History]\r\nFilePath=/fw/new.mub\r\n");
    EXPECT_FALSE(settingsComplete(path));
    LoadedSettings loaded = loadSettings(folder.root());
    EXPECT_EQ(folder.read("cfg.ini"),
              "[Port]\r\nPort=USB\r\nBaudRate=115200\r\n[History]\r\nFilePath=/fw/new.mub\r\n[ImportHistory]\r\nCount=0\r\n");
    EXPECT_TRUE(loaded.usbMode);
    EXPECT_EQ(loaded.baudIndex, 7);
    EXPECT_EQ(loaded.countText, "0");
    EXPECT_EQ(loaded.openDialogFolder, "/fw");

    // An empty BaudRate (what an exit with nothing selected leaves) is filled
    // in; Port and Count stay.
    folder.write("cfg.ini", "[Port]\r\nPort=COM5\r\nBaudRate=\r\n[ImportHistory]\r\nCount=17\r\n");
    loaded = loadSettings(folder.root());
    EXPECT_EQ(folder.read("cfg.ini"),
              "[Port]\r\nPort=COM5\r\nBaudRate=57600\r\n[ImportHistory]\r\nCount=17\r\n[History]\r\nFilePath=\r\n");
    EXPECT_EQ(loaded.portName, "COM5");
    EXPECT_EQ(loaded.countText, "17");
}

TEST_F(SettingsFile, CompleteFileIsNotWritten) {
    // FilePath missing while BaudRate and Count are present: it stays missing.
    std::string text = "[Port]\nBaudRate=1\n[ImportHistory]\nCount=abc\n";
    folder.write("cfg.ini", text);
    ino_t before = folder.inode("cfg.ini");
    LoadedSettings loaded = loadSettings(folder.root());
    EXPECT_EQ(folder.read("cfg.ini"), text);
    EXPECT_EQ(folder.inode("cfg.ini"), before);
    EXPECT_EQ(loaded.portName, "COM1"); // missing Port reads as the default
    EXPECT_EQ(loaded.baudIndex, 2);     // "19200", the first item beginning with "1"
    EXPECT_EQ(loaded.countText, "abc");
    EXPECT_EQ(loaded.openDialogFolder, folder.root());

    // Only the exact text "USB" selects the bridge.
    folder.write("cfg.ini", "[Port]\r\nPort=usb\r\nBaudRate=57600\r\n[ImportHistory]\r\nCount=0\r\n");
    loaded = loadSettings(folder.root());
    EXPECT_FALSE(loaded.usbMode);
    EXPECT_EQ(loaded.portName, "usb");
}

TEST(BaudRateSelection, FirstItemBeginningWithTheStoredText) {
    EXPECT_EQ(baudIndexForPrefix("1"), 2);       // 19200
    EXPECT_EQ(baudIndexForPrefix("5"), 4);       // 51200
    EXPECT_EQ(baudIndexForPrefix("11"), 7);      // 115200
    EXPECT_EQ(baudIndexForPrefix("4800"), 0);
    EXPECT_EQ(baudIndexForPrefix("300"), -1);
    EXPECT_EQ(baudIndexForPrefix("1152000"), -1); // longer than every item
    EXPECT_EQ(baudIndexForPrefix("96OO"), -1);
}

TEST(CountText, OnlyNumbersAboveTenDigitsOfNinesAreReset) {
    EXPECT_EQ(countTextFor("12345678901"), "0");
    EXPECT_EQ(countTextFor("9999999999"), "9999999999");
    EXPECT_EQ(countTextFor("abc"), "abc");
    EXPECT_EQ(countTextFor(" \t+10000000000"), "0");
    EXPECT_EQ(countTextFor("10000000000abc"), "0");
    EXPECT_EQ(countTextFor("-99999999999"), "-99999999999");
    EXPECT_EQ(countTextFor(std::string(40, '9')), "0"); // no overflow back below the limit
    EXPECT_EQ(countTextFor("0000000000012"), "0000000000012");
    EXPECT_EQ(countTextFor("42 pieces"), "42 pieces");
}

TEST(OpenDialogFolder, TextBeforeTheLastSeparator) {
    EXPECT_EQ(openDialogFolderFor("D:\\fw\\new.mub", "/opt/up"), "D:\\fw");
    EXPECT_EQ(openDialogFolderFor("/home/op/fw/a.mub", "/opt/up"), "/home/op/fw");
    EXPECT_EQ(openDialogFolderFor("/a.mub", "/opt/up"), "/");
    EXPECT_EQ(openDialogFolderFor("a.mub", "/opt/up"), "");
    EXPECT_EQ(openDialogFolderFor("", "/opt/up"), "/opt/up");
    // 0x95 0x5C is one GBK character whose second byte is "\".
    EXPECT_EQ(openDialogFolderFor("/fw/\x95\x5C.mub", "/opt/up"), "/fw");
    // Like the stored path, the result is GBK; the program folder is UTF-8.
    EXPECT_EQ(openDialogFolderFor("", "/opt/升级"), gbk("/opt/升级"));
}

TEST_F(SettingsFile, ClosingWithoutChangesWritesNothing) {
    folder.write("cfg.ini", freshFile);
    ino_t before = folder.inode("cfg.ini");
    EXPECT_TRUE(saveSettings(path, {"57600", "", "0", "COM1"}));
    EXPECT_EQ(folder.inode("cfg.ini"), before);
    EXPECT_EQ(folder.read("cfg.ini"), freshFile);
}

TEST_F(SettingsFile, ChangedValuesAreWrittenAtExit) {
    folder.write("cfg.ini", "[Port]\r\nPort=COM1\r\nBaudRate=57600\r\n[History]\r\nFilePath=/fw/a.mub\r\n"
                            "[ImportHistory]\r\nCount=12\r\n");
    // Counter cleared, the machine found on COM5, nothing selected, the path
    // field empty (no file opened): FilePath keeps its stored value.
    EXPECT_TRUE(saveSettings(path, {"", "", "0", "COM5"}));
    EXPECT_EQ(folder.read("cfg.ini"), "[Port]\r\nPort=COM5\r\nBaudRate=\r\n[History]\r\nFilePath=/fw/a.mub\r\n"
                                      "[ImportHistory]\r\nCount=0\r\n");
    // The empty BaudRate makes the next start fill in the default, keeping COM5.
    LoadedSettings loaded = loadSettings(folder.root());
    EXPECT_EQ(loaded.portName, "COM5");
    EXPECT_EQ(loaded.baudIndex, 5);
    EXPECT_EQ(readProfileString(path, "Port", "BaudRate"), "57600");
}

TEST_F(SettingsFile, SavingIntoAnEmptyFileWritesInOrder) {
    EXPECT_TRUE(saveSettings(path, {"9600", "/fw/b.mub", "3", "USB"}));
    EXPECT_EQ(folder.read("cfg.ini"),
              "[Port]\r\nBaudRate=9600\r\nPort=USB\r\n[History]\r\nFilePath=/fw/b.mub\r\n[ImportHistory]\r\nCount=3\r\n");
}

TEST_F(SettingsFile, UnwritableFolderRunsOnDefaultsSilently) {
    // A "folder" that is a plain file can hold no cfg.ini.
    folder.write("program", "binary");
    std::string programDir = folder.path("program");
    LoadedSettings loaded = loadSettings(programDir);
    EXPECT_EQ(loaded.portName, "COM1");
    EXPECT_EQ(loaded.baudIndex, 5);
    EXPECT_EQ(loaded.countText, "0");
    EXPECT_EQ(loaded.openDialogFolder, programDir);
    EXPECT_FALSE(saveSettings(loaded.settingsPath, {"9600", "/fw/b.mub", "3", "COM2"}));
    EXPECT_EQ(folder.read("program"), "binary");
}

// Runs `work` in a child process as a user who is not root (the user
// "nobody" when the test runs as root) and returns its exit code; 77 when
// no such user could be taken on.
int asOrdinaryUser(const std::function<int()>& work) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            const uid_t uid = nobody ? nobody->pw_uid : 65534;
            const gid_t gid = nobody ? nobody->pw_gid : 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0 || ::geteuid() == 0)
                ::_exit(77);
        }
        ::_exit(work());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(SettingsFile, AFileTheUserMayNotWriteIsNeverReplaced) {
    // The folder is writable for everybody, so a rename could replace any
    // file in it; only a file the user could write itself is replaced, and
    // it keeps its mode.
    ::chmod(folder.root().c_str(), 0777);
    for (const mode_t mode : {mode_t{0444}, mode_t{0666}}) {
        SCOPED_TRACE(mode);
        folder.write("cfg.ini", freshFile);
        ::chmod(path.c_str(), mode);
        const ino_t before = folder.inode("cfg.ini");
        const int written = asOrdinaryUser([&] { return saveSettings(path, {"9600", "", "0", "COM1"}) ? 1 : 0; });
        if (written == 77) GTEST_SKIP() << "cannot run as a user who is not root";
        const bool writable = mode == 0666;
        EXPECT_EQ(written, writable ? 1 : 0);
        EXPECT_EQ(folder.inode("cfg.ini") != before, writable);
        EXPECT_EQ(readProfileString(path, "Port", "BaudRate"), writable ? "9600" : "57600");
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, mode);
        EXPECT_EQ(folder.entries(), std::vector<std::string>{"cfg.ini"});
        std::filesystem::remove(path);
    }
}

TEST_F(SettingsFile, SettingsPathIsBesideTheProgram) {
    EXPECT_EQ(settingsPathIn("/opt/up"), "/opt/up/cfg.ini");
    EXPECT_EQ(settingsPathIn("/"), "/cfg.ini");
    // The test program itself lies in the folder found for it.
    EXPECT_TRUE(std::filesystem::exists(programFolder() + "/settings_tests"));
}

TEST_F(SettingsFile, PortsSectionOverridesThePortTable) {
    folder.write("cfg.ini", "[Port]\r\nPort=COM1\r\n[Ports]\r\nCOM1=/dev/pts/7\r\ncom2 = /dev/ttyX\r\nCOM1=/dev/later\r\n"
                            "COM0=/dev/a\r\nCOM256=/dev/b\r\nCOM03=/dev/c\r\nCOMx=/dev/d\r\nCOM3=\r\n");
    std::map<int, std::string> overrides = readPortOverrides(path);
    EXPECT_EQ(overrides, (std::map<int, std::string>{{1, "/dev/pts/7"}, {2, "/dev/ttyX"}, {3, ""}}));

    PortTable table;
    EXPECT_EQ(loadPortOverrides(path, table), 3);
    EXPECT_EQ(table.devicePath(1), "/dev/pts/7");
    EXPECT_EQ(table.devicePath(2), "/dev/ttyX");
    EXPECT_EQ(table.devicePath(3), ""); // taken out of the table
    EXPECT_EQ(table.devicePath(5), "/dev/ttyUSB4");

    EXPECT_EQ(loadPortOverrides(folder.path("absent.ini"), table), 0);
}

} // namespace
} // namespace mub
