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
#include <utility>
#include <vector>

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
    std::optional<FileReadFailure> failure;
    EXPECT_TRUE(readUpgradeFileBytesAt(path, &failure).empty());
    EXPECT_EQ(failure, FileReadFailure::InUse);

    // Let go of during the tries.
    std::thread release([other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::CloseHandle(other);
    });
    EXPECT_EQ(readUpgradeFileBytesAt(path, &failure).size(), 3u);
    EXPECT_FALSE(failure);
    release.join();
}

// The system's own answers, each taken for its reason: a folder says
// "access denied" to CreateFileW and is told apart by its attributes.
TEST(ExclusiveReadWindows, EachReasonIsToldApart) {
    test::TempFolder folder;
    folder.write("empty.mub", "");
    folder.write("huge.mub", "");
    {
        HANDLE huge = ::CreateFileW(wideFromUtf8(folder.path("huge.mub")).c_str(), GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(huge, INVALID_HANDLE_VALUE);
        LARGE_INTEGER size{};
        size.QuadPart = static_cast<LONGLONG>(maxUpgradeFileBytes + 1);
        EXPECT_TRUE(::SetFilePointerEx(huge, size, nullptr, FILE_BEGIN) && ::SetEndOfFile(huge));
        ::CloseHandle(huge);
    }
    const std::vector<std::pair<std::string, FileReadFailure>> cases = {
        {folder.path("missing.mub"), FileReadFailure::NotFound},
        {folder.path("no\\such\\folder\\a.mub"), FileReadFailure::NotFound},
        {folder.root(), FileReadFailure::Folder},
        {folder.path("empty.mub"), FileReadFailure::Empty},
        {folder.path("huge.mub"), FileReadFailure::TooLarge},
        {"\\\\.\\NUL", FileReadFailure::NotAFile},
    };
    for (const auto& [path, reason] : cases) {
        std::optional<FileReadFailure> failure;
        EXPECT_TRUE(readUpgradeFileBytesAt(path, &failure).empty()) << path;
        EXPECT_EQ(failure, reason) << path;
    }
}

} // namespace
} // namespace mub
