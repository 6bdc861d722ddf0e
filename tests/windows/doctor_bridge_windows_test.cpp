// mubtool doctor's look at the bridge library under the Windows loader,
// through the stand-in's kinds: the width from the PE header, the names the
// functions are exported under, the convention the binding found and the
// connect attempt's status. The 32-bit kinds run in the 32-bit build only.
#include "link/bridge_binding.h"
#include "platform/bridge_library.h"
#include "tests/support/temp_folder.h"
#include "tools/mubtool/doctor_checks.h"

#include <gtest/gtest.h>

#include <string>

namespace mub::tool {
namespace {

constexpr bool program32 = sizeof(void*) == 4;
constexpr auto bound = std::chrono::seconds(5);

std::string kindPath(const char* kind) {
    return programDirectory() + (*kind ? std::string("bridge-kinds\\") + kind + "\\" : std::string()) +
           bridgeLibraryFileName();
}

std::vector<std::string> exportedAs(const BridgeCheck& check) {
    std::vector<std::string> names;
    for (const BridgeName& n : check.names) names.push_back(n.exportedAs);
    return names;
}

const std::vector<std::string> plainNames{"MA101_ConnectBridge", "MA101_SetMode",   "MA101_ClearDevBuffer",
                                          "MA101_WriteData",     "MA101_ReadData",  "MA101_DisconnectBridge"};

TEST(DoctorBridgeWindows, TheStandInOfThisWidthLoadsAndConnectAnswers) {
    const BridgeCheck check = checkBridgeLibrary(kindPath(""), bound);
    ASSERT_TRUE(check.present);
    EXPECT_EQ(check.header.format, LibraryHeader::Format::Pe);
    EXPECT_EQ(check.header.bits, program32 ? 32 : 64);
    EXPECT_EQ(check.header.machineName, program32 ? "x86" : "x64");
    EXPECT_TRUE(check.loaded) << check.loadError;
    EXPECT_EQ(exportedAs(check), plainNames);
    // 64-bit Windows has one convention; the 32-bit stand-in is stdcall.
    EXPECT_EQ(check.convention, program32 ? "stdcall" : "the platform's own");
    ASSERT_TRUE(check.connectTried);
    EXPECT_EQ(check.connectStatus, StatusNoDevice); // no BRIDGEMINI_PORT: no bridge
}

TEST(DoctorBridgeWindows, ALibraryOfTheOtherWidthIsNamedFromItsHeader) {
    test::TempFolder folder;
    std::string bytes(512, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[0x3C] = 0x40;
    bytes.replace(0x40, 4, std::string("PE\0\0", 4));
    bytes[0x44] = program32 ? '\x64' : '\x4C';
    bytes[0x45] = program32 ? '\x86' : '\x01';
    folder.write("BridgeMini.dll", bytes);
    const BridgeCheck check = checkBridgeLibrary(folder.path("BridgeMini.dll"), bound);
    ASSERT_TRUE(check.present);
    EXPECT_EQ(check.header.bits, program32 ? 64 : 32);
    EXPECT_FALSE(check.loaded);
    EXPECT_NE(check.loadError.find(program32 ? "is a 64-bit library" : "is a 32-bit library"), std::string::npos)
        << check.loadError;
    EXPECT_TRUE(check.names.empty());
    EXPECT_FALSE(check.connectTried);
    DoctorReport report;
    report.bridge = check;
    const std::string text = reportText(report);
    EXPECT_NE(text.find(program32 ? "PE 64-bit (x64): NOT for this 32-bit program" : "PE 32-bit (x86): NOT for this 64-bit program"),
              std::string::npos)
        << text;

    EXPECT_FALSE(checkBridgeLibrary(folder.path("none.dll"), bound).present);
}

TEST(DoctorBridgeWindows, The32BitKindsTellTheirNamesAndConvention) {
    if (!program32) GTEST_SKIP() << "64-bit Windows has one calling convention; the kinds exist in the 32-bit build";
    const BridgeCheck decorated = checkBridgeLibrary(kindPath("stdcall-decorated"), bound);
    EXPECT_TRUE(decorated.loaded) << decorated.loadError;
    EXPECT_EQ(exportedAs(decorated),
              (std::vector<std::string>{"_MA101_ConnectBridge@8", "_MA101_SetMode@12", "_MA101_ClearDevBuffer@4",
                                        "_MA101_WriteData@16", "_MA101_ReadData@16", "_MA101_DisconnectBridge@4"}));
    EXPECT_EQ(decorated.convention, "stdcall");
    EXPECT_EQ(decorated.connectStatus, StatusNoDevice);

    const BridgeCheck cdecl = checkBridgeLibrary(kindPath("cdecl"), bound);
    EXPECT_TRUE(cdecl.loaded) << cdecl.loadError;
    EXPECT_EQ(exportedAs(cdecl), plainNames);
    EXPECT_EQ(cdecl.convention, "cdecl");
    EXPECT_EQ(cdecl.connectStatus, StatusNoDevice);

    // Refused after its first call: the names are still told, and why.
    const BridgeCheck odd = checkBridgeLibrary(kindPath("odd-convention"), bound);
    EXPECT_FALSE(odd.loaded);
    EXPECT_EQ(odd.convention, "unknown");
    EXPECT_NE(odd.loadError.find("unknown calling convention"), std::string::npos) << odd.loadError;
    EXPECT_EQ(odd.names.size(), 6u);
    EXPECT_FALSE(odd.connectTried);
}

} // namespace
} // namespace mub::tool
