#include "app/settings/settings_location.h"

#include "app/settings/settings_file.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace mub {
namespace {

bool isAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

} // namespace

std::string userConfigFolder(const char* xdgConfigHome, const char* home) {
    if (isAbsolute(xdgConfigHome)) return std::string(xdgConfigHome) + "/" + programFolderName;
    if (!isAbsolute(home)) return {};
    return std::string(home) + "/.config/" + programFolderName;
}

std::string userConfigFolder() { return userConfigFolder(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")); }

std::string writableFolderFor(const std::string& programDir, bool programDirWritable,
                              const std::string& configFolder) {
    if (programDirWritable || configFolder.empty()) return programDir;
    std::error_code error;
    std::filesystem::create_directories(configFolder, error);
    if (error || ::access(configFolder.c_str(), W_OK) != 0) return programDir;
    return configFolder;
}

bool settingsBesideProgram(const std::string& programDir) {
    if (::access((programDir + "/" + perUserSettingsMarker).c_str(), F_OK) == 0) return false;
    return ::access(programDir.c_str(), W_OK) == 0;
}

std::string writableFolder(const std::string& programDir) {
    return writableFolderFor(programDir, settingsBesideProgram(programDir), userConfigFolder());
}

std::string settingsPathFor(const std::string& programDir, bool programDirWritable, const std::string& configFolder) {
    std::string folder = writableFolderFor(programDir, programDirWritable, configFolder);
    std::string path = settingsPathIn(folder);
    if (folder != programDir) {
        // A preset beside the program seeds the user's copy once. A failed
        // copy leaves no file, and loading then writes the defaults.
        namespace fs = std::filesystem;
        std::error_code error;
        if (fs::copy_file(settingsPathIn(programDir), path, fs::copy_options::skip_existing, error))
            fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, error);
    }
    return path;
}

std::string settingsPathFor(const std::string& programDir) {
    return settingsPathFor(programDir, settingsBesideProgram(programDir), userConfigFolder());
}

std::string existingSettingsPathFor(const std::string& programDir, bool programDirWritable,
                                    const std::string& configFolder) {
    std::string beside = settingsPathIn(programDir);
    if (programDirWritable || configFolder.empty()) return beside;
    std::string userCopy = settingsPathIn(configFolder);
    if (::access(userCopy.c_str(), F_OK) != 0 && ::access(beside.c_str(), F_OK) == 0) return beside;
    return userCopy;
}

std::string existingSettingsPath(const std::string& programDir) {
    return existingSettingsPathFor(programDir, settingsBesideProgram(programDir), userConfigFolder());
}

} // namespace mub
