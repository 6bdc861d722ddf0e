#include "records/collector_answer.h"

#include <nlohmann/json.hpp>

namespace mub {
namespace {

std::size_t countAt(const nlohmann::json& object, const char* key) {
    const auto at = object.find(key);
    return at != object.end() && at->is_number_unsigned() ? at->get<std::size_t>() : 0;
}

std::string textAt(const nlohmann::json& object, const char* key) {
    const auto at = object.find(key);
    return at != object.end() && at->is_string() ? at->get<std::string>() : std::string();
}

} // namespace

CollectorAnswer readCollectorAnswer(std::string_view body) {
    CollectorAnswer answer;
    const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
    if (!json.is_object()) return answer;
    answer.stored = countAt(json, "stored");
    answer.duplicates = countAt(json, "duplicates");
    answer.error = textAt(json, "error");
    const auto conflicts = json.find("conflicts");
    if (conflicts != json.end() && conflicts->is_array())
        for (const nlohmann::json& conflict : *conflicts)
            if (conflict.is_object()) answer.conflicts.push_back({textAt(conflict, "record_id"), textAt(conflict, "outcome")});
    return answer;
}

} // namespace mub
