#include "app/settings/settings_file.h"

#include "app/settings/settings_location.h"

#include "platform/gbk_text.h"
#include "platform/profile_file.h"
#include "upgrade_file/open_upgrade_file.h"

#include <cstdint>

namespace mub {
namespace {

constexpr std::string_view portSection = "Port";
constexpr std::string_view portKey = "Port";
constexpr std::string_view baudKey = "BaudRate";
constexpr std::string_view historySection = "History";
constexpr std::string_view filePathKey = "FilePath";
constexpr std::string_view countSection = "ImportHistory";
constexpr std::string_view countKey = "Count";
constexpr std::string_view recordsSection = "Records";

constexpr std::string_view defaultPort = "COM1";
constexpr std::string_view defaultCount = "0";
constexpr std::uint64_t largestCount = 9999999999ull;

// Writes `value` when the stored value is missing or empty.
void writeWhenMissing(const std::string& path, std::string_view section, std::string_view key,
                      std::string_view value) {
    if (readProfileString(path, section, key).empty()) writeProfileString(path, section, key, value);
}

std::string readOrDefault(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback) {
    std::string value = readProfileString(path, section, key);
    return value.empty() ? std::string(fallback) : value;
}

bool isCBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Position just after the last path separator that starts a GBK character
// ("/", or "\" from a file written on Windows); npos when there is none.
std::size_t lastSeparator(std::string_view path) {
    std::size_t found = std::string_view::npos;
    for (std::size_t i = 0; i < path.size(); i += gbkCharLength(static_cast<unsigned char>(path[i])))
        if (path[i] == '/' || path[i] == '\\') found = i;
    return found;
}

} // namespace

std::string settingsPathIn(const std::string& programDir) {
    if (!programDir.empty() && programDir.back() == '/') return programDir + "cfg.ini";
    return programDir + "/cfg.ini";
}

bool settingsComplete(const std::string& settingsPath) {
    // A missing file has neither value.
    if (readProfileString(settingsPath, portSection, baudKey).empty()) return false;
    return !readProfileString(settingsPath, countSection, countKey).empty();
}

LoadedSettings loadSettings(const std::string& programDir) {
    LoadedSettings loaded;
    loaded.settingsPath = settingsPathFor(programDir);
    const std::string& path = loaded.settingsPath;

    if (!settingsComplete(path)) {
        // Only what is missing is filled in; values the operator had are kept.
        writeWhenMissing(path, portSection, portKey, defaultPort);
        writeWhenMissing(path, portSection, baudKey, baudRateTexts[defaultBaudIndex]);
        // An empty FilePath is its default already; only a missing key is
        // added. No value holds a line break, so "\n" tells "missing" apart.
        if (readProfileString(path, historySection, filePathKey, "\n") == "\n")
            writeProfileString(path, historySection, filePathKey, "");
        writeWhenMissing(path, countSection, countKey, defaultCount);
    }

    // An empty value (left when the file could not be completed) reads as
    // the default, like a missing one.
    loaded.portName = readOrDefault(path, portSection, portKey, defaultPort);
    loaded.usbMode = loaded.portName == "USB";
    loaded.baudIndex = baudIndexForPrefix(readOrDefault(path, portSection, baudKey, baudRateTexts[defaultBaudIndex]));
    loaded.countText = countTextFor(readOrDefault(path, countSection, countKey, defaultCount));
    loaded.openDialogFolder = openDialogFolderFor(readProfileString(path, historySection, filePathKey), programDir);
    loaded.records = readRecordsSettings(path);
    return loaded;
}

RecordsSettings readRecordsSettings(const std::string& settingsPath) {
    return {readProfileString(settingsPath, recordsSection, "SendTo"), readProfileString(settingsPath, recordsSection, "Token")};
}

int baudIndexForPrefix(std::string_view stored) {
    for (std::size_t i = 0; i < baudRateTexts.size(); ++i) {
        std::string_view item = baudRateTexts[i];
        if (stored.size() <= item.size() && sameProfileName(item.substr(0, stored.size()), stored))
            return static_cast<int>(i);
    }
    return -1;
}

std::string countTextFor(std::string_view stored) {
    std::size_t i = 0;
    while (i < stored.size() && isCBlank(stored[i])) ++i;
    bool negative = false;
    if (i < stored.size() && (stored[i] == '+' || stored[i] == '-')) negative = stored[i++] == '-';
    // Saturates instead of overflowing: only "greater than the largest
    // count" matters.
    std::uint64_t value = 0;
    for (; i < stored.size() && stored[i] >= '0' && stored[i] <= '9'; ++i) {
        value = value * 10 + static_cast<std::uint64_t>(stored[i] - '0');
        if (value > largestCount) break;
    }
    if (!negative && value > largestCount) return std::string(defaultCount);
    return std::string(stored);
}

std::string openDialogFolderFor(std::string_view storedPath, const std::string& programDir) {
    if (storedPath.empty()) return gbk(programDir);
    std::size_t separator = lastSeparator(storedPath);
    if (separator == std::string_view::npos) return {};
    if (separator == 0 && storedPath[0] == '/') return "/";
    return std::string(storedPath.substr(0, separator));
}

bool saveSettings(const std::string& settingsPath, const SettingsToSave& values) {
    bool ok = true;
    if (values.baudText != readProfileString(settingsPath, portSection, baudKey))
        ok = writeProfileString(settingsPath, portSection, baudKey, values.baudText) && ok;
    ok = rememberFilePath(settingsPath, values.filePath) && ok;
    if (values.countText != readProfileString(settingsPath, countSection, countKey))
        ok = writeProfileString(settingsPath, countSection, countKey, values.countText) && ok;
    if (values.portName != readProfileString(settingsPath, portSection, portKey))
        ok = writeProfileString(settingsPath, portSection, portKey, values.portName) && ok;
    return ok;
}

} // namespace mub
