#include "collector/http_answer.h"

#include <nlohmann/json.hpp>

namespace mub::collector {

HttpAnswer errorAnswer(int status, const std::string& error) {
    // Texts that are not UTF-8 (a file name, a driver's message) come out
    // with replacement characters instead of stopping the answer.
    return {status, nlohmann::json{{"error", error}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
            "application/json"};
}

} // namespace mub::collector
