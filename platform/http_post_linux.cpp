// The POST through libcurl's multi interface: its poll can be woken from
// another thread, which is how cancel() ends a request at once.
#include "platform/http_post.h"

#include <curl/curl.h>

#include <algorithm>
#include <mutex>

namespace mub {
namespace {

// Once per process, before the first handle (not safe to race otherwise).
void initialiseCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::size_t keepAnswer(char* data, std::size_t size, std::size_t count, void* target) {
    auto& body = *static_cast<std::string*>(target);
    const std::size_t bytes = size * count;
    if (body.size() < HttpPoster::maxAnswerBytes)
        body.append(data, std::min(bytes, HttpPoster::maxAnswerBytes - body.size()));
    return bytes;
}

// The poll's longest sleep: a safety net only, since a cancel wakes it.
constexpr int pollMs = 1000;

struct Easy {
    CURL* handle = curl_easy_init();
    curl_slist* headers = nullptr;
    ~Easy() {
        curl_slist_free_all(headers);
        curl_easy_cleanup(handle);
    }
};

} // namespace

struct HttpPoster::System {
    CURLM* multi = nullptr;
    ~System() { curl_multi_cleanup(multi); }
};

HttpPoster::HttpPoster() : system_(std::make_unique<System>()) {
    initialiseCurl();
    system_->multi = curl_multi_init();
}

HttpPoster::~HttpPoster() = default;

void HttpPoster::cancel() {
    cancelled_ = true;
    if (system_->multi) curl_multi_wakeup(system_->multi);
}

HttpPostAnswer HttpPoster::post(const HttpPostRequest& request) {
    HttpPostAnswer answer;
    Easy easy;
    if (!system_->multi || !easy.handle) {
        answer.error = "the HTTP library cannot be started";
        return answer;
    }
    CURL* h = easy.handle;
    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectBound.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request.wholeBound.count()));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, keepAnswer);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer.body);
    const std::string type = "Content-Type: " + request.contentType;
    easy.headers = curl_slist_append(easy.headers, type.c_str());
    if (!request.bearerToken.empty())
        easy.headers = curl_slist_append(easy.headers, ("Authorization: Bearer " + request.bearerToken).c_str());
    // No "100 Continue" round before a large body: the collector answers at once.
    easy.headers = curl_slist_append(easy.headers, "Expect:");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, easy.headers);

    CURLM* multi = system_->multi;
    curl_multi_add_handle(multi, h);
    CURLcode result = CURLE_OK;
    for (bool done = false; !done;) {
        if (cancelled_) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == h) {
                result = message->data.result;
                done = true;
            }
        }
        if (!done) curl_multi_poll(multi, nullptr, 0, pollMs, nullptr);
    }
    curl_multi_remove_handle(multi, h);

    if (result == CURLE_ABORTED_BY_CALLBACK) {
        answer.body.clear();
        answer.error = "cancelled";
    } else if (result != CURLE_OK) {
        answer.body.clear();
        answer.error = curl_easy_strerror(result);
    } else {
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        answer.status = static_cast<int>(status);
    }
    return answer;
}

} // namespace mub
