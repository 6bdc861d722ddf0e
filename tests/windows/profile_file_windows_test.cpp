// cfg.ini is replaced by a rename; a program that holds the file for a
// moment (a virus scanner, an indexer) makes the rename fail, and it is
// tried again. A read-only file is not.
#include "platform/profile_file.h"

#include "platform/wide_text_windows.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <thread>

namespace mub {
namespace {

TEST(ProfileFileWindows, ARenameRefusedForAMomentIsTriedAgain) {
    test::TempFolder folder;
    folder.write("cfg.ini", "[ImportHistory]\r\nCount=1\r\n");
    const std::string path = folder.path("cfg.ini");
    HANDLE scanner = ::CreateFileW(wideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
    std::thread release([scanner] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::CloseHandle(scanner);
    });
    EXPECT_TRUE(writeProfileString(path, "ImportHistory", "Count", "2"));
    release.join();
    EXPECT_EQ(readProfileString(path, "ImportHistory", "Count"), "2");

    ::SetFileAttributesW(wideFromUtf8(path).c_str(), FILE_ATTRIBUTE_READONLY);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(writeProfileString(path, "ImportHistory", "Count", "3"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
    EXPECT_EQ(readProfileString(path, "ImportHistory", "Count"), "2");
}

} // namespace
} // namespace mub
