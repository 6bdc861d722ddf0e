#include "upgrade_file/tag_lines.h"

#include "platform/gbk_text.h"

#include <optional>

namespace mub {

TagValues parseTagLines(std::string_view bodyText) {
    // A value depends only on the last line holding its tag, so the lines are
    // remembered and each tag is removed once, at the end.
    std::array<std::optional<std::string_view>, kUpgradeTags.size()> lastLine;
    std::size_t start = 0;
    while (start <= bodyText.size()) {
        std::size_t end = bodyText.find("\r\n", start);
        if (end == std::string_view::npos) end = bodyText.size();
        std::string_view line = bodyText.substr(start, end - start);
        for (std::size_t t = 0; t < kUpgradeTags.size(); ++t)
            if (findGbk(line, kUpgradeTags[t]) != std::string_view::npos) lastLine[t] = line;
        start = end + 2;
    }

    TagValues values;
    std::string* fields[] = {&values.modelId, &values.hardwareVersion, &values.softwareVersion, &values.data};
    for (std::size_t t = 0; t < kUpgradeTags.size(); ++t)
        if (lastLine[t]) *fields[t] = removeAllIgnoringAsciiCase(*lastLine[t], kUpgradeTags[t]);
    return values;
}

} // namespace mub
