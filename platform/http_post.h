// An HTTP POST with bounds on the connection and on the whole request, for
// sending the upgrade log's records: libcurl on Linux, WinHTTP (a system
// library) on Windows. One request at a time per poster; cancel() from
// another thread ends the request under way at once, so that a program
// that ends never waits out a slow network.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace mub {

struct HttpPostRequest {
    std::string url;         // http://HOST[:PORT]/PATH (https:// too)
    std::string bearerToken; // sent as "Authorization: Bearer TOKEN"; empty: none
    std::string contentType = "application/json";
    std::string body;
    std::chrono::milliseconds connectBound{5000}; // name look-up and connection
    std::chrono::milliseconds wholeBound{30000};  // from the start to the last byte of the answer
};

struct HttpPostAnswer {
    int status = 0;     // the answer's status code; 0: no answer, `error` says why
    std::string body;   // at most maxAnswerBytes of it
    std::string error;  // UTF-8, for a diagnostic line
};

class HttpPoster {
public:
    HttpPoster();
    ~HttpPoster();
    HttpPoster(const HttpPoster&) = delete;
    HttpPoster& operator=(const HttpPoster&) = delete;

    HttpPostAnswer post(const HttpPostRequest& request);
    // From any thread: the request under way ends at once (no answer), and
    // so does every later one.
    void cancel();
    bool cancelled() const { return cancelled_; }

    // An answer is for reading a short JSON reply; the rest is not kept.
    static constexpr std::size_t maxAnswerBytes = 1 << 20;

private:
    struct System; // the system library's handles
    std::atomic<bool> cancelled_{false};
    std::unique_ptr<System> system_;
};

} // namespace mub
