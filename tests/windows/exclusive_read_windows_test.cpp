// Upgrade files are read shared with nobody: a file another program has
// open is tried again for a while, then refused as in use; missing, empty
// and non-file paths are refused at once.
#include "upgrade_file/open_upgrade_file.h"

#include "platform/wide_text_windows.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <thread>

namespace mub {
namespace {

TEST(ExclusiveReadWindows, AFileAnotherProgramHoldsIsRefused) {
    test::TempFolder folder;
    folder.write("a.mub", "abc");
    const std::string path = folder.path("a.mub");
    EXPECT_EQ(readUpgradeFileBytesAt(path), (Bytes{'a', 'b', 'c'}));

    // A preview or a virus scanner: shares everything, yet the file is held.
    HANDLE other = ::CreateFileW(wideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    bool inUse = false;
    EXPECT_TRUE(readUpgradeFileBytesAt(path, &inUse).empty());
    EXPECT_TRUE(inUse);

    // Let go of during the tries.
    std::thread release([other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::CloseHandle(other);
    });
    EXPECT_EQ(readUpgradeFileBytesAt(path, &inUse).size(), 3u);
    EXPECT_FALSE(inUse);
    release.join();

    folder.write("empty.mub", "");
    for (const std::string& unusable : {folder.path("empty.mub"), folder.path("missing.mub"), folder.root()}) {
        EXPECT_TRUE(readUpgradeFileBytesAt(unusable, &inUse).empty()) << unusable;
        EXPECT_FALSE(inUse) << unusable;
    }
}

} // namespace
} // namespace mub
