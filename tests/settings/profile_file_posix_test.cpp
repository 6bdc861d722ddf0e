// Profile writes and the file system's POSIX side: permissions, inodes,
// symbolic links.
#include "platform/profile_file.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace mub {
namespace {

using test::TempFolder;

class ProfileFilePosix : public ::testing::Test {
protected:
    TempFolder folder;
    std::string path = folder.path("cfg.ini");
};

TEST_F(ProfileFilePosix, WriteReplacesTheFileAtomicallyAndOnlyWhenItChanges) {
    folder.write("cfg.ini", "[Port]\r\nPort=COM1\r\n");
    ::chmod(path.c_str(), 0600);
    ino_t before = folder.inode("cfg.ini");
    ASSERT_TRUE(writeProfileString(path, "port", "PORT", "COM1")); // same text: untouched
    EXPECT_EQ(folder.inode("cfg.ini"), before);
    EXPECT_EQ(folder.read("cfg.ini"), "[Port]\r\nPort=COM1\r\n");

    ASSERT_TRUE(writeProfileString(path, "Port", "Port", "COM2"));
    EXPECT_NE(folder.inode("cfg.ini"), before); // a new file was renamed into place
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"cfg.ini"}); // no temporary file left
}

TEST_F(ProfileFilePosix, WritesThroughASymbolicLink) {
    folder.write("real.ini", "[Port]\r\nPort=COM1\r\n");
    ASSERT_EQ(::symlink("real.ini", path.c_str()), 0);
    ASSERT_TRUE(writeProfileString(path, "Port", "Port", "COM4"));
    struct stat info {};
    ASSERT_EQ(::lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(folder.read("real.ini"), "[Port]\r\nPort=COM4\r\n");
}

} // namespace
} // namespace mub
