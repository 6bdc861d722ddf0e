#include "platform/json_text.h"

#include <cstdio>

namespace mub {

std::string jsonString(const std::string& utf8Text) {
    std::string out = "\"";
    for (unsigned char c : utf8Text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string jsonArray(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + items[i];
    return out + "]";
}

JsonObject& JsonObject::raw(std::string_view key, std::string_view json) {
    if (!body_.empty()) body_ += ", ";
    body_ += jsonString(std::string(key)) + ": ";
    body_ += json;
    return *this;
}

JsonObject& JsonObject::text(std::string_view key, std::string_view value) {
    return raw(key, jsonString(std::string(value)));
}
JsonObject& JsonObject::number(std::string_view key, std::int64_t value) { return raw(key, std::to_string(value)); }
JsonObject& JsonObject::boolean(std::string_view key, bool value) { return raw(key, value ? "true" : "false"); }
JsonObject& JsonObject::null(std::string_view key) { return raw(key, "null"); }

} // namespace mub
