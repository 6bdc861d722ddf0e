#include "tools/mubtool/json_object.h"

namespace mub::tool {

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

} // namespace mub::tool
