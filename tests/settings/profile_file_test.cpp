#include "platform/profile_file.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace mub {
namespace {

using test::TempFolder;

class ProfileFile : public ::testing::Test {
protected:
    TempFolder folder;
    std::string path = folder.path("cfg.ini");
};

TEST_F(ProfileFile, FindsSectionsAndKeysWithoutRegardToAsciiCase) {
    folder.write("cfg.ini", "[port]\r\nbaudrate = 9600 \r\n[PORT]\r\nBaudRate=4800\r\n");
    EXPECT_EQ(readProfileString(path, "Port", "BaudRate"), "9600"); // first section, blanks trimmed
    EXPECT_EQ(readProfileString(path, "  Port ", "BAUDRATE"), "9600");
    EXPECT_EQ(readProfileString(path, "Port", "Baud", "none"), "none");
    EXPECT_EQ(readProfileString(path, "History", "BaudRate", "none"), "none");
}

TEST_F(ProfileFile, TwoByteCharactersInNamesCompareExactly) {
    // 0xB0 0x61 and 0xB0 0x41: the second bytes look like 'a' and 'A' but are
    // parts of two different characters.
    folder.write("cfg.ini", "[\xB0\x61]\r\nk=1\r\n");
    EXPECT_EQ(readProfileString(path, "\xB0\x61", "k"), "1");
    EXPECT_EQ(readProfileString(path, "\xB0\x41", "k", "none"), "none");
    EXPECT_TRUE(sameProfileName("ab\xC9\xFD", "AB\xC9\xFD"));
    EXPECT_FALSE(sameProfileName("a", "ab"));
}

TEST_F(ProfileFile, MissingKeyGivesFallbackButEmptyValueReadsEmpty) {
    folder.write("cfg.ini", "[History]\nFilePath=\n");
    EXPECT_EQ(readProfileString(path, "History", "FilePath", "x"), "");
    EXPECT_EQ(readProfileString(path, "History", "Other", "x"), "x");
    EXPECT_EQ(readProfileString(folder.path("absent.ini"), "History", "FilePath", "x"), "x");
    EXPECT_EQ(readProfileString(folder.path("absent.ini"), "History", "FilePath"), "");
}

TEST_F(ProfileFile, CommentsAndLinesOutsideSectionsAreNotValues) {
    folder.write("cfg.ini", "Port=early\r\n[Port]\r\n;Port=USB\r\n# Port=USB\r\nnoise\r\n[broken\r\nPort=COM3\r\n");
    EXPECT_EQ(readProfileString(path, "Port", "Port"), "COM3");
    EXPECT_EQ(readProfileString(path, "Port", ";Port", "none"), "none");
}

TEST_F(ProfileFile, ByteOrderMarkOfAnEditorIsKeptButNotRead) {
    folder.write("cfg.ini", "\xEF\xBB\xBF[Port]\r\nPort=COM2\r\n");
    EXPECT_EQ(readProfileString(path, "Port", "Port"), "COM2");
    ASSERT_TRUE(writeProfileString(path, "Port", "BaudRate", "9600"));
    EXPECT_EQ(folder.read("cfg.ini"), "\xEF\xBB\xBF[Port]\r\nPort=COM2\r\nBaudRate=9600\r\n");
}

TEST_F(ProfileFile, ValuesAreReturnedWholeAndUnchanged) {
    std::string gbkPath = "D:\\\xB9\xCC\xBC\xFE\\\x95\x5C.mub"; // GBK, one trail byte is '\'
    std::string longValue(100000, 'x');
    folder.write("cfg.ini", "[History]\r\nFilePath=" + gbkPath + "\r\nLong=" + longValue + "\r\nEq=a=b\r\n");
    EXPECT_EQ(readProfileString(path, "History", "FilePath"), gbkPath);
    EXPECT_EQ(readProfileString(path, "History", "Long"), longValue);
    EXPECT_EQ(readProfileString(path, "History", "Eq"), "a=b");
}

TEST_F(ProfileFile, NewFileGetsCrLfLines) {
    ASSERT_TRUE(writeProfileString(path, "Port", "Port", "COM1"));
    ASSERT_TRUE(writeProfileString(path, "Port", "BaudRate", "57600"));
    ASSERT_TRUE(writeProfileString(path, "History", "FilePath", ""));
    EXPECT_EQ(folder.read("cfg.ini"), "[Port]\r\nPort=COM1\r\nBaudRate=57600\r\n[History]\r\nFilePath=\r\n");
}

TEST_F(ProfileFile, WritingKeepsEveryOtherLineByteForByte) {
    folder.write("cfg.ini",
                 "; operator notes\r\n[Port]\r\nport = COM2\r\n  BaudRate=9600\r\n\r\n[Extra]\r\nkeep=\xC9\xFD\r\n");
    ASSERT_TRUE(writeProfileString(path, "PORT", "Port", "COM7"));
    ASSERT_TRUE(writeProfileString(path, "Port", "Count", "3"));
    ASSERT_TRUE(writeProfileString(path, "ImportHistory", "Count", "0"));
    // Only the value of a replaced line changes; a new key goes after the
    // section's last line, before its blank line.
    EXPECT_EQ(folder.read("cfg.ini"), "; operator notes\r\n[Port]\r\nport = COM7\r\n  BaudRate=9600\r\nCount=3\r\n\r\n"
                                      "[Extra]\r\nkeep=\xC9\xFD\r\n[ImportHistory]\r\nCount=0\r\n");
}

TEST_F(ProfileFile, LfFileKeepsLfAndAMissingLastLineEndIsSupplied) {
    folder.write("cfg.ini", "[Port]\nPort=COM1");
    ASSERT_TRUE(writeProfileString(path, "Port", "BaudRate", "4800"));
    ASSERT_TRUE(writeProfileString(path, "History", "FilePath", "/fw/a.mub"));
    EXPECT_EQ(folder.read("cfg.ini"), "[Port]\nPort=COM1\nBaudRate=4800\n[History]\nFilePath=/fw/a.mub\n");
}

TEST_F(ProfileFile, ValueThatWouldBreakTheFileIsRefused) {
    folder.write("cfg.ini", "[History]\r\nFilePath=/a.mub\r\n");
    EXPECT_FALSE(writeProfileString(path, "History", "FilePath", "/x\n[Port]\nPort=USB"));
    EXPECT_FALSE(writeProfileString(path, "History", "FilePath", std::string("/x\0y", 4)));
    EXPECT_FALSE(writeProfileString(path, "History", "File=Path", "v"));
    EXPECT_FALSE(writeProfileString(path, "Hist]ory", "FilePath", "v"));
    EXPECT_FALSE(writeProfileString(path, "History", "", "v"));
    EXPECT_EQ(folder.read("cfg.ini"), "[History]\r\nFilePath=/a.mub\r\n");
}

TEST_F(ProfileFile, FailedWriteLeavesNothingBehind) {
    // A folder that does not exist, and a "folder" that is a file.
    EXPECT_FALSE(writeProfileString(folder.path("no/such/cfg.ini"), "Port", "Port", "COM1"));
    folder.write("plain", "x");
    EXPECT_FALSE(writeProfileString(folder.path("plain/cfg.ini"), "Port", "Port", "COM1"));
    EXPECT_EQ(folder.read("plain"), "x");
    // A path that cannot be read as a file is not replaced.
    folder.makeFolder("cfg.ini");
    EXPECT_FALSE(writeProfileString(path, "Port", "Port", "COM1"));
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"cfg.ini", "plain"}));
}

TEST_F(ProfileFile, ReadsAWholeSectionInOrder) {
    folder.write("cfg.ini", "[Ports]\r\nCOM1=/dev/a\r\n;COM2=/dev/b\r\ncom3 = /dev/c\r\n[Other]\r\nCOM4=/dev/d\r\n");
    using Entries = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(readProfileSection(path, "ports"), (Entries{{"COM1", "/dev/a"}, {"com3", "/dev/c"}}));
    EXPECT_TRUE(readProfileSection(path, "Missing").empty());
}

} // namespace
} // namespace mub
