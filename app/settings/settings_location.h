// Where the program keeps what it writes. A program in a folder its user may
// write to (the portable build, a copy on a USB stick) keeps cfg.ini beside
// itself; otherwise it keeps it in the user's configuration folder
// ($XDG_CONFIG_HOME/upgrader, else ~/.config/upgrader on Linux;
// %APPDATA%\upgrader on Windows), one per user: a program under Program
// Files run by a user without rights to it, or an installed package. A
// package marks its program folder with a file, so that a program started
// with sudo (root may write anywhere) does not leave its settings to every
// later user (and behind after the package is purged). That copy starts from
// the cfg.ini beside the program when there is one (a site-wide preset,
// [Ports] included), else from the defaults that loading writes.
#pragma once

#include <string>

namespace mub {

// The name of the folder under the configuration folder.
inline constexpr const char* programFolderName = "upgrader";

// The file a package puts into the program folder it installs.
inline constexpr const char* perUserSettingsMarker = "settings-per-user";

// Whether cfg.ini belongs beside the program: the user may create files in
// its folder and no package marked the folder as installed.
bool settingsBesideProgram(const std::string& programDir);

// $XDG_CONFIG_HOME/upgrader, else $HOME/.config/upgrader. Relative paths in
// these variables are ignored, as the XDG rules ask; empty when no absolute
// folder is left.
std::string userConfigFolder(const char* xdgConfigHome, const char* home);

// What differs by system (program_folder_linux.cpp, program_folder_windows.cpp):
// The user's configuration folder of this program: the above from the
// environment on Linux, %APPDATA%\upgrader on Windows; empty when there is none.
std::string userConfigFolder();
// Whether this user may create files in `folder`. On Windows a file is
// created (and removed) to find out: neither the folder's attributes nor a
// look at its permissions tell what User Account Control will allow.
bool folderWritable(const std::string& folder);

// `programDir` when `programDirWritable`; else `configFolder`, created (with
// its parents) when missing. Falls back to `programDir` when the
// configuration folder is empty or cannot be made: the program then runs
// as with a read-only settings file, its writes failing silently.
std::string writableFolderFor(const std::string& programDir, bool programDirWritable,
                              const std::string& configFolder);

// The same for the running program (settingsBesideProgram).
std::string writableFolder(const std::string& programDir);

// Path of cfg.ini in writableFolderFor(...). When that is the configuration
// folder and holds no cfg.ini yet, the cfg.ini beside the program (if any)
// is copied there first (made writable for its owner, a read-only preset
// included); an existing copy is never replaced.
std::string settingsPathFor(const std::string& programDir, bool programDirWritable, const std::string& configFolder);

// The same for the running program.
std::string settingsPathFor(const std::string& programDir);

// The cfg.ini the program reads, found without making anything (for tools
// that only look). When the settings are not beside the program: the user's
// copy when it exists, else the preset beside the program that would seed
// it, else the path the user's copy will have (not made yet). Otherwise the
// file beside the program.
std::string existingSettingsPathFor(const std::string& programDir, bool programDirWritable,
                                    const std::string& configFolder);
std::string existingSettingsPath(const std::string& programDir);

} // namespace mub
