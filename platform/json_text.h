// JSON text for the reports of the simulated machine and of mubtool: the
// one JSON writer of the programs. Texts must be UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mub {

// `utf8Text` as a quoted JSON string: quotes, backslashes and control
// characters escaped.
std::string jsonString(const std::string& utf8Text);

// `items` (JSON values each) as a JSON array.
std::string jsonArray(const std::vector<std::string>& items);

// A JSON object, keys in the order they are added.
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

} // namespace mub
