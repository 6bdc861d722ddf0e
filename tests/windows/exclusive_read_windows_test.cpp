// Upgrade files are read shared with nobody: a file another program has
// open is refused, as are missing, empty and non-file paths.
#include "upgrade_file/open_upgrade_file.h"

#include "platform/wide_text_windows.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace mub {
namespace {

TEST(ExclusiveReadWindows, AFileAnotherProgramHoldsIsRefused) {
    test::TempFolder folder;
    folder.write("a.mub", "abc");
    const std::string path = folder.path("a.mub");
    EXPECT_EQ(readUpgradeFileBytesAt(path), (Bytes{'a', 'b', 'c'}));

    HANDLE other = ::CreateFileW(wideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(readUpgradeFileBytesAt(path).empty());
    ::CloseHandle(other);
    EXPECT_EQ(readUpgradeFileBytesAt(path).size(), 3u);

    folder.write("empty.mub", "");
    EXPECT_TRUE(readUpgradeFileBytesAt(folder.path("empty.mub")).empty());
    EXPECT_TRUE(readUpgradeFileBytesAt(folder.path("missing.mub")).empty());
    EXPECT_TRUE(readUpgradeFileBytesAt(folder.root()).empty());
}

} // namespace
} // namespace mub
