// JSON objects for mubtool's --json output: keys in the order they are
// added. Texts must be UTF-8; strings are escaped by jsonString.
#pragma once

#include "tools/simulator/json_text.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mub::tool {

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
