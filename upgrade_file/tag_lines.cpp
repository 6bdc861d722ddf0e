#include "upgrade_file/tag_lines.h"

#include "platform/gbk_text.h"

namespace mub {
namespace {

void applyLine(std::string_view line, TagValues& values) {
    std::string* fields[] = {&values.modelId, &values.hardwareVersion, &values.softwareVersion, &values.data};
    for (std::size_t t = 0; t < kUpgradeTags.size(); ++t)
        if (findGbk(line, kUpgradeTags[t]) != std::string_view::npos)
            *fields[t] = removeAllIgnoringAsciiCase(line, kUpgradeTags[t]);
}

} // namespace

TagValues parseTagLines(std::string_view bodyText) {
    TagValues values;
    std::size_t start = 0;
    while (start <= bodyText.size()) {
        std::size_t end = bodyText.find("\r\n", start);
        if (end == std::string_view::npos) end = bodyText.size();
        applyLine(bodyText.substr(start, end - start), values);
        start = end + 2;
    }
    return values;
}

} // namespace mub
