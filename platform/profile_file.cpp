#include "platform/profile_file.h"

#include "platform/gbk_text.h"
#include "platform/profile_file_io.h"

namespace mub {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

// Position of the first `c` (an ASCII byte) that starts a GBK character.
std::size_t findCharGbk(std::string_view text, char c) {
    for (std::size_t i = 0; i < text.size(); i += gbkCharLength(static_cast<unsigned char>(text[i])))
        if (text[i] == c) return i;
    return std::string_view::npos;
}

// One line of the file: [begin, end) is its text without the line end,
// `next` is where the following line begins.
struct Line {
    std::size_t begin;
    std::size_t end;
    std::size_t next;
};

std::vector<Line> splitLines(std::string_view content) {
    std::vector<Line> lines;
    // A byte-order mark some editors put in front of the first line is not
    // part of it (and stays in the file).
    std::size_t pos = content.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (pos < content.size()) {
        std::size_t lf = content.find('\n', pos);
        std::size_t next = lf == std::string_view::npos ? content.size() : lf + 1;
        std::size_t end = lf == std::string_view::npos ? content.size() : lf;
        if (end > pos && content[end - 1] == '\r') --end;
        lines.push_back({pos, end, next});
        pos = next;
    }
    return lines;
}

enum class LineKind { Other, Section, Value };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;  // section or key name
    std::string_view value; // for value lines
};

ParsedLine parseLine(std::string_view text) {
    ParsedLine parsed;
    std::string_view t = trimmed(text);
    if (t.empty() || t.front() == ';' || t.front() == '#') return parsed;
    if (t.front() == '[') {
        std::string_view inner = t.substr(1);
        std::size_t close = findCharGbk(inner, ']');
        if (close == std::string_view::npos) return parsed;
        parsed.kind = LineKind::Section;
        parsed.name = trimmed(inner.substr(0, close));
        return parsed;
    }
    std::size_t eq = findCharGbk(t, '=');
    if (eq == std::string_view::npos) return parsed;
    std::string_view key = trimmed(t.substr(0, eq));
    if (key.empty()) return parsed;
    parsed.kind = LineKind::Value;
    parsed.name = key;
    parsed.value = trimmed(t.substr(eq + 1));
    return parsed;
}

// Where a section and a key stand in the file.
struct Location {
    bool sectionFound = false;
    std::size_t lastContentLine = 0; // last non-blank line of the section (the header at least)
    bool keyFound = false;
    std::size_t keyLine = 0;
};

Location locate(std::string_view content, const std::vector<Line>& lines, std::string_view section,
                std::string_view key) {
    Location where;
    bool inSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view text = content.substr(lines[i].begin, lines[i].end - lines[i].begin);
        ParsedLine parsed = parseLine(text);
        if (parsed.kind == LineKind::Section) {
            if (inSection) break; // the first matching section ends here
            if (sameProfileName(parsed.name, section)) {
                inSection = true;
                where.sectionFound = true;
                where.lastContentLine = i;
            }
            continue;
        }
        if (!inSection) continue;
        if (!trimmed(text).empty()) where.lastContentLine = i;
        if (parsed.kind == LineKind::Value && sameProfileName(parsed.name, key)) {
            where.keyFound = true;
            where.keyLine = i;
            break;
        }
    }
    return where;
}

// CR LF unless the file's first line ends in a bare LF.
std::string_view lineEndOf(std::string_view content) {
    std::size_t lf = content.find('\n');
    if (lf != std::string_view::npos && (lf == 0 || content[lf - 1] != '\r')) return "\n";
    return "\r\n";
}

bool holdsLineBreakOrNul(std::string_view text) { return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos; }

bool validNames(std::string_view section, std::string_view key, std::string_view value) {
    if (section.empty() || key.empty()) return false;
    if (holdsLineBreakOrNul(section) || holdsLineBreakOrNul(key) || holdsLineBreakOrNul(value)) return false;
    if (findCharGbk(section, ']') != std::string_view::npos) return false;
    if (findCharGbk(key, '=') != std::string_view::npos) return false;
    // A key that starts like a header or a comment could never be read back.
    return key.front() != '[' && key.front() != ';' && key.front() != '#';
}

} // namespace

bool sameProfileName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    std::size_t i = 0;
    while (i < a.size()) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        std::size_t length = gbkCharLength(ca);
        if (length == 2) {
            // Both bytes of a two-byte character compare exactly.
            if (a.substr(i, 2) != b.substr(i, 2)) return false;
        } else {
            auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; };
            if (lower(ca) != lower(cb)) return false;
        }
        i += length;
    }
    return true;
}

std::string readProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view fallback) {
    std::string content;
    if (readWholeProfile(path, content) != ProfileReadResult::Ok) return std::string(fallback);
    std::vector<Line> lines = splitLines(content);
    Location where = locate(content, lines, trimmed(section), trimmed(key));
    if (!where.keyFound) return std::string(fallback);
    const Line& line = lines[where.keyLine];
    return std::string(parseLine(std::string_view(content).substr(line.begin, line.end - line.begin)).value);
}

std::vector<std::pair<std::string, std::string>> readProfileSection(const std::string& path, std::string_view section) {
    std::vector<std::pair<std::string, std::string>> entries;
    std::string content;
    if (readWholeProfile(path, content) != ProfileReadResult::Ok) return entries;
    std::string_view wanted = trimmed(section);
    bool inSection = false;
    for (const Line& line : splitLines(content)) {
        ParsedLine parsed = parseLine(std::string_view(content).substr(line.begin, line.end - line.begin));
        if (parsed.kind == LineKind::Section) {
            if (inSection) break;
            inSection = sameProfileName(parsed.name, wanted);
        } else if (inSection && parsed.kind == LineKind::Value) {
            entries.emplace_back(parsed.name, parsed.value);
        }
    }
    return entries;
}

bool writeProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
    section = trimmed(section);
    key = trimmed(key);
    if (!validNames(section, key, value)) return false;

    std::string content;
    ProfileReadResult read = readWholeProfile(path, content);
    // A file that exists but cannot be read must not be replaced by one that
    // holds only the new value.
    if (read == ProfileReadResult::Failed) return false;

    const std::string_view lineEnd = lineEndOf(content);
    const std::string keyLine = std::string(key) + "=" + std::string(value);
    std::vector<Line> lines = splitLines(content);
    Location where = locate(content, lines, section, key);

    std::string updated;
    if (where.keyFound) {
        // Only the value changes; the key's spelling and the blanks stay.
        const Line& line = lines[where.keyLine];
        std::string_view text = std::string_view(content).substr(line.begin, line.end - line.begin);
        std::string_view old = parseLine(text).value;
        std::size_t from = static_cast<std::size_t>(old.data() - content.data());
        updated = content.substr(0, from) + std::string(value) + content.substr(from + old.size());
    } else if (where.sectionFound) {
        const Line& last = lines[where.lastContentLine];
        std::string insert;
        if (content[last.next - 1] != '\n') insert += lineEnd; // the section's last line ends the file without a line end
        insert += keyLine;
        insert += lineEnd;
        updated = content.substr(0, last.next) + insert + content.substr(last.next);
    } else {
        updated = content;
        if (!updated.empty() && updated.back() != '\n') updated += lineEnd;
        updated += "[";
        updated += section;
        updated += "]";
        updated += lineEnd;
        updated += keyLine;
        updated += lineEnd;
    }
    if (read == ProfileReadResult::Ok && updated == content) return true;
    return replaceProfile(path, updated, read == ProfileReadResult::Ok);
}

} // namespace mub
