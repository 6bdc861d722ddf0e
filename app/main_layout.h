// The main window's template: its size, every control in tab order and the
// menu bar, all positions and sizes in dialog units.
#pragma once

#include "platform/ui.h"

#include <span>
#include <string>

namespace mub {

enum class ControlKind {
    GroupBox,
    PushButton,
    DropDownList,
    ReadOnlyEdit, // single line, read-only, sunken
    Label,
    CentredLabel,
    MessagePane, // read-only multi-line edit with a vertical scroll bar
    StatusBar,   // docked at the bottom; its rectangle is not used
    ProgressBar,
    PercentLabel, // transparent, text vertically centred, over the progress bar
    Picture,      // the program's banner
    Separator,    // a sunken horizontal line
    TextBlock,    // left-aligned, wrapped over several lines
};

struct ControlTemplate {
    int id;
    const char* name; // role name, empty for captions and frames
    ControlKind kind;
    const char* text; // template text, UTF-8
    int x, y, w, h;
    bool hidden; // never shown by the program
};

// Client area of the main window.
inline constexpr int mainWindowWidthDu = 225;
inline constexpr int mainWindowHeightDu = 200;

// Template order, which is also the tab order.
std::span<const ControlTemplate> mainWindowControls();
const ControlTemplate* findControlSpec(int id);

// The About window (dialog 1100): client size and controls. The control
// with id IdAboutTitle shows the main window's caption instead of its text,
// IdAboutVersion the program's version (aboutVersionText).
inline constexpr int aboutWindowWidthDu = 253;
inline constexpr int aboutWindowHeightDu = 178;
std::span<const ControlTemplate> aboutWindowControls();
// "版本：1.0.0+5d5676c" (UTF-8): the build's version, commit included.
std::string aboutVersionText();

// Menu bar: a top-level menu has id 0 and starts a new menu; an item with an
// empty text is a separator. Texts after a tab are printed hints only.
struct MenuSpec {
    int id;
    const char* text;
    bool topLevel;
};
std::span<const MenuSpec> mainMenuBar();

// Control ids the window refers to by role.
enum : int {
    IdOpenFileButton = 1022,
    IdUpgradeButton = 1029,
    IdDetectModelButton = 1027,
    IdClearCountButton = 1028,
    IdBaudRateList = 1024,
    IdCountField = 1026,
    IdFileModelField = 1003,
    IdFileHardwareField = 1004,
    IdFileSoftwareField = 1006,
    IdMachineModelField = 1010,
    IdMachineHardwareField = 1011,
    IdMachineSoftwareField = 1014,
    IdMessagePane = 1016,
    IdFilePathField = 1018,
    IdStatusBar = 1019,
    IdProgressBar = 1020,
    IdPercentLabel = 1021,
};

enum : int {
    IdAboutBanner = 1101,
    IdAboutTitle = 1102,
    IdAboutVersion = 1103,
    IdAboutOkButton = 1107,
    IdAboutSystemInfoButton = 1108,
};

// The control showing a field or taking a state change of the logic.
int controlIdOf(Field field);
int controlIdOf(Control control);

enum : int {
    MenuOpen = 10002,
    MenuExit = 10004,
    MenuLanguage = 10006,
    MenuHelp = 10008,
    MenuDownload = 10009,
    MenuAbout = 10011,
};

} // namespace mub
