#include "tools/mubtool/json_text.h"

#include <cstdio>

namespace mub::tool {

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string jsonArray(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
    return out + "]";
}

JsonObject& JsonObject::raw(std::string_view key, std::string_view json) {
    if (!body_.empty()) body_ += ",";
    body_ += jsonString(key) + ":";
    body_ += json;
    return *this;
}

JsonObject& JsonObject::text(std::string_view key, std::string_view value) { return raw(key, jsonString(value)); }
JsonObject& JsonObject::number(std::string_view key, std::int64_t value) { return raw(key, std::to_string(value)); }
JsonObject& JsonObject::boolean(std::string_view key, bool value) { return raw(key, value ? "true" : "false"); }
JsonObject& JsonObject::null(std::string_view key) { return raw(key, "null"); }

} // namespace mub::tool
