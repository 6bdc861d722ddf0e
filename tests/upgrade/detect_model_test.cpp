#include "upgrade/detect_model.h"

#include "link/protocol.h"
#include "tests/upgrade/upgrade_fixture.h"

namespace mub::test {
namespace {

const Bytes CancelPacket{Cancel};

class DetectModel : public UpgradeFixture {
protected:
    DetectModel() {
        link.running = false;
        for (Field f : {Field::MachineModel, Field::MachineHardware, Field::MachineSoftware}) ui.setFieldText(f, "");
    }
};

TEST_F(DetectModel, IdentifiesTheMachineAndTellsItNoUpgradeFollows) {
    machine.software = gbk("２．０版");
    const auto identified = detectModel(link, ui.baudIndex, file.loaded, view);
    ASSERT_TRUE(identified.has_value());
    EXPECT_EQ(identified->model, "AB12");
    EXPECT_EQ(identified->software, gbk("２．０版"));
    EXPECT_EQ(ui.fieldText(Field::MachineModel), "AB12");
    EXPECT_EQ(ui.fieldText(Field::MachineHardware), "HW-A");
    EXPECT_EQ(ui.fieldText(Field::MachineSoftware), gbk("２．０版"));
    EXPECT_EQ(machine.writes.back(), CancelPacket);
    EXPECT_EQ(machine.disconnectCalls, 1);
    EXPECT_FALSE(link.running);
    EXPECT_EQ(ui.caption(Control::DetectModelButton), gbk("型号检测"));
    EXPECT_TRUE(ui.isEnabled(Control::OpenFileButton));
    EXPECT_TRUE(ui.isEnabled(Control::BaudRateList));
    EXPECT_TRUE(ui.isEnabled(Control::UpgradeButton));
    // Nothing of the file is compared or sent.
    EXPECT_TRUE(ui.errorBoxes.empty());
    EXPECT_EQ(std::count(machine.writes.begin(), machine.writes.end(), Bytes{BeginUpdate}), 0);
    EXPECT_TRUE(machine.blockPackets.empty());
}

TEST_F(DetectModel, WithoutALoadedFileTheUpgradeButtonStaysDisabled) {
    file.loaded = false;
    EXPECT_TRUE(detectModel(link, ui.baudIndex, file.loaded, view).has_value());
    EXPECT_FALSE(ui.isEnabled(Control::UpgradeButton));
    EXPECT_TRUE(ui.isEnabled(Control::OpenFileButton));
}

TEST_F(DetectModel, StopWhileSearchingEndsTheCheckWithItsMessage) {
    machine.connectStatus = StatusNoDevice;
    bool clicked = false;
    ui.onPump = [&] {
        // The second click on the button, handled inside a pause of the check.
        if (!clicked && ui.virtualMicros() > 5'000) {
            clicked = true;
            EXPECT_EQ(ui.caption(Control::DetectModelButton), gbk("停止"));
            EXPECT_FALSE(ui.isEnabled(Control::UpgradeButton));
            stopModelCheck(link, file.loaded, view);
        }
    };
    EXPECT_FALSE(detectModel(link, ui.baudIndex, file.loaded, view).has_value());
    EXPECT_TRUE(clicked);
    EXPECT_EQ(ui.pane(), gbk("型号检测被停止！"));
    EXPECT_EQ(ui.fieldText(Field::MachineModel), "");
    // One cancel packet from the nested click, one when the outer check returns.
    EXPECT_EQ(std::count(machine.writes.begin(), machine.writes.end(), CancelPacket), 2);
    EXPECT_EQ(ui.caption(Control::DetectModelButton), gbk("型号检测"));
    EXPECT_TRUE(ui.isEnabled(Control::UpgradeButton));
}

} // namespace
} // namespace mub::test
