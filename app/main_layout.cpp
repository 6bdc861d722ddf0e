#include "app/main_layout.h"

#include "upgrade/program_version.h"

#include <array>

namespace mub {

namespace {

using K = ControlKind;

constexpr std::array<ControlTemplate, 29> controls{{
    {1001, "", K::GroupBox, "文件信息", 3, 6, 104, 53, false},
    {1022, "openFileButton", K::PushButton, "打开文件", 168, 169, 54, 15, false},
    {1029, "upgradeButton", K::PushButton, "升级(F8)", 149, 145, 71, 15, false},
    {1027, "detectModelButton", K::PushButton, "型号检测", 149, 121, 40, 15, false},
    {1028, "clearCountButton", K::PushButton, "清零", 196, 121, 25, 15, false},
    {1024, "baudRateList", K::DropDownList, "", 177, 83, 44, 15, false},
    {1026, "countField", K::ReadOnlyEdit, "9999999999", 177, 103, 44, 12, false},
    {1002, "", K::CentredLabel, "适用机型", 9, 3, 32, 12, true},
    {1003, "fileModelField", K::ReadOnlyEdit, "", 45, 3, 55, 12, true},
    {1004, "fileHardwareField", K::ReadOnlyEdit, "", 45, 21, 55, 12, false},
    {1005, "", K::CentredLabel, "硬件版本", 9, 21, 32, 12, false},
    {1006, "fileSoftwareField", K::ReadOnlyEdit, "", 45, 39, 55, 12, false},
    {1007, "", K::CentredLabel, "软件版本", 9, 39, 32, 12, false},
    {1008, "", K::GroupBox, "机器信息", 117, 6, 104, 53, false},
    {1009, "", K::CentredLabel, "机器型号", 123, 3, 32, 12, true},
    {1010, "machineModelField", K::ReadOnlyEdit, "", 159, 3, 55, 12, true},
    {1011, "machineHardwareField", K::ReadOnlyEdit, "", 159, 21, 55, 12, false},
    {1012, "", K::CentredLabel, "硬件版本", 123, 21, 32, 12, false},
    {1013, "", K::CentredLabel, "软件版本", 123, 39, 32, 12, false},
    {1014, "machineSoftwareField", K::ReadOnlyEdit, "", 159, 39, 55, 12, false},
    {1015, "", K::GroupBox, "消息框", 3, 63, 138, 106, false},
    {1016, "messagePane", K::MessagePane, "", 6, 75, 132, 90, false},
    {1017, "", K::Label, "文件路径", 6, 172, 32, 9, false},
    {1018, "filePathField", K::ReadOnlyEdit, "", 39, 170, 126, 12, false},
    {1019, "statusBar", K::StatusBar, "", 0, 0, 0, 0, false},
    {1020, "progressBar", K::ProgressBar, "", 114, 187, 110, 13, false},
    {1021, "percentLabel", K::PercentLabel, "100%", 165, 190, 18, 7, false},
    {1023, "", K::Label, "波特率:", 150, 85, 26, 9, false},
    {1025, "", K::Label, "计    数:", 150, 104, 26, 9, false},
}};

constexpr std::array<MenuSpec, 11> menuBar{{
    {0, "文件(&F)", true},
    {MenuOpen, "打开(&O)\tCtrl+O", false},
    {0, "", false},
    {MenuExit, "退出(&X)\tAlt+X", false},
    {0, "选项(&O)", true},
    {MenuLanguage, "语言(&L)", false},
    {0, "帮助(&H)", true},
    {MenuHelp, "操作说明(&F1)\tF1", false},
    {MenuDownload, "下载(&D)", false},
    {0, "", false},
    {MenuAbout, "关于(&A)", false},
}};

constexpr std::array<ControlTemplate, 8> aboutControls{{
    {IdAboutBanner, "banner", K::Picture, "", 12, 12, 81, 63, false},
    {IdAboutTitle, "aboutTitle", K::TextBlock, "", 108, 15, 141, 12, false},
    {IdAboutVersion, "", K::TextBlock, "", 108, 42, 141, 12, false}, // aboutVersionText()
    {1104, "", K::TextBlock, "本工具在生产线上为现金处理设备写入固件。升级过程中请勿断开连接线或关闭机器电源。", 108, 69, 141,
     39, false},
    {1105, "", K::Separator, "", 12, 120, 242, 1, false},
    {1106, "", K::TextBlock, "警告：本程序受著作权法保护。未经许可，不得复制、修改或分发本程序的全部或部分内容。", 12, 129,
     174, 42, false},
    {1107, "okButton", K::PushButton, "确定", 192, 129, 54, 18, false},
    {1108, "systemInfoButton", K::PushButton, "系统信息", 192, 153, 54, 18, false},
}};

} // namespace

std::span<const ControlTemplate> aboutWindowControls() { return aboutControls; }

std::string aboutVersionText() { return "版本：" + programVersion(); }

int controlIdOf(Field field) {
    switch (field) {
    case Field::FileModel: return IdFileModelField;
    case Field::FileHardware: return IdFileHardwareField;
    case Field::FileSoftware: return IdFileSoftwareField;
    case Field::MachineModel: return IdMachineModelField;
    case Field::MachineHardware: return IdMachineHardwareField;
    case Field::MachineSoftware: return IdMachineSoftwareField;
    case Field::FilePath: return IdFilePathField;
    case Field::Count: return IdCountField;
    }
    return 0;
}

int controlIdOf(Control control) {
    switch (control) {
    case Control::UpgradeButton: return IdUpgradeButton;
    case Control::DetectModelButton: return IdDetectModelButton;
    case Control::OpenFileButton: return IdOpenFileButton;
    case Control::ClearCountButton: return IdClearCountButton;
    case Control::BaudRateList: return IdBaudRateList;
    }
    return 0;
}

std::span<const ControlTemplate> mainWindowControls() { return controls; }

const ControlTemplate* findControlSpec(int id) {
    for (const ControlTemplate& control : controls)
        if (control.id == id) return &control;
    return nullptr;
}

std::span<const MenuSpec> mainMenuBar() { return menuBar; }

} // namespace mub
