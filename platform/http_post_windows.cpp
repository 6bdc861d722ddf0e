// The POST through WinHTTP, synchronously. WinHTTP bounds each step on its
// own (name look-up, connection, sending, each receive), so before every
// step its bound is cut to what is left of the whole request's. cancel()
// closes the request's handle, which ends the call under way.
#include "platform/http_post.h"

#include "platform/wide_text_windows.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <mutex>

namespace mub {
namespace {

using Clock = std::chrono::steady_clock;

struct InternetHandle {
    HINTERNET h = nullptr;
    ~InternetHandle() {
        if (h) ::WinHttpCloseHandle(h);
    }
};

std::string winHttpError(DWORD code) {
    switch (code) {
    case ERROR_WINHTTP_TIMEOUT: return "timed out";
    case ERROR_WINHTTP_CANNOT_CONNECT: return "cannot connect";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "the name is not known";
    case ERROR_WINHTTP_CONNECTION_ERROR: return "the connection broke";
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME: return "not an http:// or https:// address";
    case ERROR_WINHTTP_SECURE_FAILURE: return "the secure connection failed (certificate?)";
    case ERROR_WINHTTP_OPERATION_CANCELLED:
    case ERROR_INVALID_HANDLE: return "cancelled";
    default: return "WinHTTP error " + std::to_string(code);
    }
}

} // namespace

struct HttpPoster::System {
    std::mutex lock;
    HINTERNET request = nullptr; // the request under way, for cancel()
};

HttpPoster::HttpPoster() : system_(std::make_unique<System>()) {}

HttpPoster::~HttpPoster() = default;

void HttpPoster::cancel() {
    std::lock_guard<std::mutex> guard(system_->lock);
    cancelled_ = true;
    if (system_->request) {
        ::WinHttpCloseHandle(system_->request);
        system_->request = nullptr;
    }
}

HttpPostAnswer HttpPoster::post(const HttpPostRequest& request) {
    HttpPostAnswer answer;
    const Clock::time_point deadline = Clock::now() + request.wholeBound;
    // What is left of the whole bound, in milliseconds (at least 1: 0 means
    // no bound to WinHTTP).
    const auto left = [&] {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return static_cast<int>(std::clamp<long long>(ms, 1, 0x7FFFFFFF));
    };
    const auto failed = [&](DWORD code) {
        answer.status = 0;
        answer.body.clear();
        answer.error = cancelled_ ? "cancelled" : Clock::now() >= deadline ? "timed out" : winHttpError(code);
        return answer;
    };

    std::wstring url = wideFromUtf8(request.url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return failed(::GetLastError());
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return failed(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";

    InternetHandle session{::WinHttpOpen(L"mub-records", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                         WINHTTP_NO_PROXY_BYPASS, 0)};
    if (!session.h) return failed(::GetLastError());
    InternetHandle connection{::WinHttpConnect(session.h, host.c_str(), parts.nPort, 0)};
    if (!connection.h) return failed(::GetLastError());
    HINTERNET handle = ::WinHttpOpenRequest(connection.h, L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    if (!handle) return failed(::GetLastError());
    {
        std::lock_guard<std::mutex> guard(system_->lock);
        if (cancelled_) {
            ::WinHttpCloseHandle(handle);
            return failed(ERROR_WINHTTP_OPERATION_CANCELLED);
        }
        system_->request = handle;
    }
    // The handle is closed here, unless cancel() has closed it already.
    struct Release {
        System& system;
        ~Release() {
            std::lock_guard<std::mutex> guard(system.lock);
            if (system.request) ::WinHttpCloseHandle(system.request);
            system.request = nullptr;
        }
    } release{*system_};

    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    ::WinHttpSetOption(handle, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
    const int connectMs = static_cast<int>(std::min<long long>(request.connectBound.count(), left()));
    if (!::WinHttpSetTimeouts(handle, connectMs, connectMs, left(), left())) return failed(::GetLastError());

    std::wstring headers = L"Content-Type: " + wideFromUtf8(request.contentType) + L"\r\n";
    if (!request.bearerToken.empty()) headers += L"Authorization: Bearer " + wideFromUtf8(request.bearerToken) + L"\r\n";
    const auto bodyBytes = static_cast<DWORD>(request.body.size());
    if (!::WinHttpSendRequest(handle, headers.c_str(), static_cast<DWORD>(-1), const_cast<char*>(request.body.data()),
                              bodyBytes, bodyBytes, 0))
        return failed(::GetLastError());
    const auto receiveWithin = [&](int ms) {
        return ::WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_TIMEOUT, &ms, sizeof ms) != FALSE;
    };
    if (!receiveWithin(left()) || !::WinHttpReceiveResponse(handle, nullptr)) return failed(::GetLastError());

    DWORD status = 0, size = sizeof status;
    if (!::WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                               &status, &size, WINHTTP_NO_HEADER_INDEX))
        return failed(::GetLastError());
    char buffer[8192];
    for (;;) {
        DWORD got = 0;
        if (!receiveWithin(left()) || !::WinHttpReadData(handle, buffer, sizeof buffer, &got))
            return failed(::GetLastError());
        if (got == 0) break;
        if (answer.body.size() < maxAnswerBytes)
            answer.body.append(buffer, std::min<std::size_t>(got, maxAnswerBytes - answer.body.size()));
    }
    answer.status = static_cast<int>(status);
    return answer;
}

} // namespace mub
