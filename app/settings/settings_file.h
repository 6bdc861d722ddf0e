// The settings file cfg.ini beside the program (or, when the program's folder
// is read-only, in the user's configuration folder: settings_location.h):
// four values kept between runs, read once at start-up and written back at
// exit when they changed.
//
//   [Port]          Port=COM1         "USB" selects the bridge library, any
//                                     other text is the COM port the search
//                                     begins with
//                   BaudRate=57600    text of one baud-rate list item
//   [History]       FilePath=         last upgrade file that opened cleanly
//   [ImportHistory] Count=0           the upgrade counter
//   [Ports]         COM<n>=<device>   optional, never written: overrides the
//                                     default COM port table (port_overrides.h)
//   [Records]       SendTo=URL        optional, never written: the collector
//                   Token=TOKEN       the upgrade log's lines are sent to,
//                                     with this station's token
//
// Texts are GBK, as everywhere in the logic; the program folder and the
// settings path are file-system paths (UTF-8 on Linux). Nothing here touches
// a window: loading returns what the window shows, saving takes what it
// shows.
#pragma once

#include "link/baud_rates.h" // the baud-rate list and its default item

#include <array>
#include <string>
#include <string_view>

namespace mub {


// Folder of the running program file (of /proc/self/exe), without a
// trailing "/"; "." when it cannot be found.
std::string programFolder();

// `programDir` + "/cfg.ini".
std::string settingsPathIn(const std::string& programDir);

// A file is complete when it exists and both [Port] BaudRate and
// [ImportHistory] Count hold a non-empty value.
bool settingsComplete(const std::string& settingsPath);

// [Records]: where the upgrade log's lines go; empty: nowhere.
struct RecordsSettings {
    std::string sendTo, token;
};
RecordsSettings readRecordsSettings(const std::string& settingsPath);

// What start-up takes from the settings file.
struct LoadedSettings {
    std::string settingsPath;
    bool usbMode = false;         // Port is exactly "USB"
    std::string portName;         // Port as stored
    int baudIndex = -1;           // selected item of the baud-rate list, -1 for none
    std::string countText;        // what the counter field shows
    std::string openDialogFolder; // initial folder of the open dialog; empty: the dialog's own default
    RecordsSettings records;
};

// Start-up: finds the file (settingsPathFor), completes it when it is
// incomplete (writing only the values that are missing or empty, so a stored
// port, baud rate and file path survive a lost Count), then reads the values. Write failures are
// silent; the values are then read from whatever the file holds.
LoadedSettings loadSettings(const std::string& programDir);

// The first list item, from the top, that begins with `stored` (ASCII case
// ignored); -1 when none does.
int baudIndexForPrefix(std::string_view stored);

// The counter text shown for a stored Count: "0" when the text read as a
// decimal number is greater than 9999999999, else the stored text itself.
std::string countTextFor(std::string_view stored);

// Initial folder of the open dialog for a stored FilePath: the program
// folder (converted to GBK) when nothing is stored, else the text before
// the last "/" (a "\" of a path written on Windows counts too); empty when
// there is no separator; "/" for a file in the root folder.
std::string openDialogFolderFor(std::string_view storedPath, const std::string& programDir);

// What the window holds at exit.
struct SettingsToSave {
    std::string baudText;  // selected baud-rate item, empty when none
    std::string filePath;  // text of the file path field
    std::string countText; // text of the counter field
    std::string portName;  // the port last known to answer, or "USB"
};

// Exit: writes BaudRate, FilePath, Count and Port, in this order, each only
// when it differs from the stored value (FilePath also only when not empty).
// Returns false when a needed write failed; the window goes on regardless.
bool saveSettings(const std::string& settingsPath, const SettingsToSave& values);

} // namespace mub
