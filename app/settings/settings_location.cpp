#include "app/settings/settings_location.h"

#include "app/settings/settings_file.h"
#include "platform/file_path.h"

#include <filesystem>

namespace mub {
namespace {

bool isAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

} // namespace

std::string userConfigFolder(const char* xdgConfigHome, const char* home) {
    if (isAbsolute(xdgConfigHome)) return std::string(xdgConfigHome) + "/" + programFolderName;
    if (!isAbsolute(home)) return {};
    return std::string(home) + "/.config/" + programFolderName;
}

std::string writableFolderFor(const std::string& programDir, bool programDirWritable,
                              const std::string& configFolder) {
    if (programDirWritable || configFolder.empty()) return programDir;
    std::error_code error;
    std::filesystem::create_directories(fileSystemPath(configFolder), error);
    if (error || !folderWritable(configFolder)) return programDir;
    return configFolder;
}

bool settingsBesideProgram(const std::string& programDir) {
    std::error_code error;
    if (std::filesystem::exists(fileSystemPath(programDir + "/" + perUserSettingsMarker), error)) return false;
    return folderWritable(programDir);
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
        if (fs::copy_file(fileSystemPath(settingsPathIn(programDir)), fileSystemPath(path),
                          fs::copy_options::skip_existing, error))
            fs::permissions(fileSystemPath(path), fs::perms::owner_read | fs::perms::owner_write,
                            fs::perm_options::add, error);
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
    std::error_code error;
    if (!std::filesystem::exists(fileSystemPath(userCopy), error) &&
        std::filesystem::exists(fileSystemPath(beside), error))
        return beside;
    return userCopy;
}

std::string existingSettingsPath(const std::string& programDir) {
    return existingSettingsPathFor(programDir, settingsBesideProgram(programDir), userConfigFolder());
}

} // namespace mub
