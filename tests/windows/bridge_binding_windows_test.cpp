// The bridge binding under the Windows loader: each reason a library cannot
// be used is told apart. (The stand-in's kinds, which load, are tried end
// to end: wine_end_to_end_test.py.)
#include "link/bridge_binding.h"

#include "platform/gbk_text.h"
#include "platform/wide_text_windows.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace mub {
namespace {

constexpr bool program32 = sizeof(void*) == 4;

// The start of a PE file for `machine`: enough for the header check.
std::string peHeader(std::uint16_t machine) {
    std::string bytes(512, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[0x3C] = 0x40;
    bytes.replace(0x40, 4, std::string("PE\0\0", 4));
    bytes[0x44] = static_cast<char>(machine & 0xFF);
    bytes[0x45] = static_cast<char>(machine >> 8);
    return bytes;
}

std::string kindPath(const char* kind) {
    return programDirectory() + (*kind ? std::string("bridge-kinds\\") + kind + "\\" : std::string()) +
           bridgeLibraryFileName();
}

TEST(BridgeBindingWindows, EachReasonIsToldApart) {
    test::TempFolder folder;
    const std::string path = folder.path("BridgeMini.dll");
    BridgeBinding binding;

    EXPECT_FALSE(binding.load(path));
    EXPECT_EQ(binding.failure(), BridgeLoadFailure::NotFound);

    folder.write("BridgeMini.dll", peHeader(program32 ? 0x8664 : 0x014C));
    EXPECT_FALSE(binding.load(path));
    EXPECT_EQ(binding.failure(), BridgeLoadFailure::WrongBitness);
    const std::string other = program32 ? "64" : "32";
    EXPECT_NE(binding.error().find("is a " + other + "-bit library"), std::string::npos) << binding.error();
    EXPECT_NE(utf8(binding.operatorText()).find("请使用" + other + "位的升级工具"), std::string::npos)
        << utf8(binding.operatorText());

    folder.write("BridgeMini.dll", "not a library at all");
    EXPECT_FALSE(binding.load(path));
    EXPECT_EQ(binding.failure(), BridgeLoadFailure::NotALibrary);

    // A system library of the program's own width, without the six functions.
    wchar_t system[MAX_PATH];
    ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
    EXPECT_FALSE(binding.load(utf8FromWide(system) + "\\version.dll"));
    EXPECT_EQ(binding.failure(), BridgeLoadFailure::MissingFunction);
    EXPECT_NE(utf8(binding.operatorText()).find("缺少函数MA101_ConnectBridge"), std::string::npos);

    EXPECT_FALSE(binding.load(kindPath("needs-helper")));
    EXPECT_EQ(binding.failure(), BridgeLoadFailure::MissingDependency);
    EXPECT_NE(utf8(binding.operatorText()).find("所需要的其他DLL文件缺失"), std::string::npos);
    EXPECT_FALSE(binding.loaded());
}

TEST(BridgeBindingWindows, ALibraryOfNeitherConventionIsRefused) {
    if (!program32) GTEST_SKIP() << "64-bit Windows has one calling convention";
    BridgeBinding binding;
    EXPECT_FALSE(binding.load(kindPath("odd-convention")));
    EXPECT_EQ(binding.failure(), BridgeLoadFailure::UnknownConvention);
    EXPECT_NE(binding.error().find("MA101_DisconnectBridge removed 8 bytes"), std::string::npos) << binding.error();
    EXPECT_FALSE(binding.loaded());
    BridgeParams params;
    EXPECT_EQ(lowWord32(binding.connectBridge(params, 1)), StatusNoDevice);
}

} // namespace
} // namespace mub
