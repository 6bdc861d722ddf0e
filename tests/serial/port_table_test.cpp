#include "serial/port_table.h"

#include <gtest/gtest.h>

namespace mub {
namespace {

TEST(PortTable, DefaultRanges) {
    PortTable table;
    EXPECT_EQ(table.devicePath(1), "/dev/ttyUSB0");
    EXPECT_EQ(table.devicePath(16), "/dev/ttyUSB15");
    EXPECT_EQ(table.devicePath(17), "/dev/ttyACM0");
    EXPECT_EQ(table.devicePath(32), "/dev/ttyACM15");
    EXPECT_EQ(table.devicePath(33), "/dev/ttyS0");
    EXPECT_EQ(table.devicePath(64), "/dev/ttyS31");
    for (int port : {0, -1, 65, 255, 256}) EXPECT_EQ(table.devicePath(port), "") << port;
}

TEST(PortTable, OverridesWinAndCanRemoveAPort) {
    PortTable table;
    table.setOverride(3, "/dev/ttyAMA0");
    table.setOverride(200, "/dev/rfcomm0");
    table.setOverride(17, "");
    EXPECT_EQ(table.devicePath(3), "/dev/ttyAMA0");
    EXPECT_EQ(table.devicePath(200), "/dev/rfcomm0");
    EXPECT_EQ(table.devicePath(17), "");
    EXPECT_EQ(table.devicePath(4), "/dev/ttyUSB3");
    table.setOverride(3, "/dev/ttyUSB9");
    EXPECT_EQ(table.devicePath(3), "/dev/ttyUSB9");
}

} // namespace
} // namespace mub
