// What a route answers, before it goes to the HTTP library.
#pragma once

#include <string>

namespace mub::collector {

struct HttpAnswer {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
};

// {"error":"..."} with `status`.
HttpAnswer errorAnswer(int status, const std::string& error);

} // namespace mub::collector
