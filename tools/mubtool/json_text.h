// Building JSON output for scripts (mubtool's --json options): one object per
// call, keys in the order they are added. Texts must be UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mub::tool {

// `text` as a JSON string: quoted, with quotes, backslashes and control
// characters escaped.
std::string jsonString(std::string_view text);

// `items` (JSON values each) as a JSON array.
std::string jsonArray(const std::vector<std::string>& items);

class JsonObject {
public:
    JsonObject& text(std::string_view key, std::string_view value);
    JsonObject& number(std::string_view key, std::int64_t value);
    JsonObject& boolean(std::string_view key, bool value);
    JsonObject& null(std::string_view key);
    JsonObject& raw(std::string_view key, std::string_view json); // a value built already
    std::string str() const { return "{" + body_ + "}"; }

private:
    std::string body_;
};

} // namespace mub::tool
