// The POST through WinHTTP in its asynchronous mode: each step is started
// and its completion awaited together with the cancel event and the whole
// request's deadline, so that neither a silent collector nor a program that
// ends waits out WinHTTP's own time-outs. (A synchronous call is not ended
// everywhere by closing its handle from another thread.)
#include "platform/http_post.h"

#include "platform/wide_text_windows.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>

namespace mub {
namespace {

using Clock = std::chrono::steady_clock;

std::string winHttpError(DWORD code) {
    switch (code) {
    case ERROR_WINHTTP_TIMEOUT: return "timed out";
    case ERROR_WINHTTP_CANNOT_CONNECT: return "cannot connect";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "the name is not known";
    case ERROR_WINHTTP_CONNECTION_ERROR: return "the connection broke";
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME: return "not an http:// or https:// address";
    case ERROR_WINHTTP_SECURE_FAILURE: return "the secure connection failed (certificate?)";
    case ERROR_WINHTTP_OPERATION_CANCELLED: return "cancelled";
    default: return "WinHTTP error " + std::to_string(code);
    }
}

// One request's state shared with WinHTTP's notices, which may come on its
// own threads until the handle's closing notice: that notice frees it, so
// that a request given up still has its buffer to finish into.
struct Exchange {
    HANDLE done = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DWORD completion = 0; // the notice that completed the step
    DWORD error = 0;      // of a failed step
    DWORD bytes = 0;      // read by the step
    char buffer[16384];
    ~Exchange() {
        if (done) ::CloseHandle(done);
    }
};

void CALLBACK onRequestNotice(HINTERNET, DWORD_PTR context, DWORD notice, LPVOID information, DWORD length) {
    auto* exchange = reinterpret_cast<Exchange*>(context);
    if (!exchange) return;
    switch (notice) {
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING: delete exchange; return;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        exchange->error = static_cast<WINHTTP_ASYNC_RESULT*>(information)->dwError;
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE: exchange->bytes = length; break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE: break;
    default: return; // progress
    }
    exchange->completion = notice;
    ::SetEvent(exchange->done);
}

struct InternetHandle {
    HINTERNET h = nullptr;
    ~InternetHandle() {
        if (h) ::WinHttpCloseHandle(h);
    }
};

} // namespace

struct HttpPoster::System {
    HANDLE cancel = ::CreateEventW(nullptr, TRUE, FALSE, nullptr); // set for good by cancel()
    ~System() {
        if (cancel) ::CloseHandle(cancel);
    }
};

HttpPoster::HttpPoster() : system_(std::make_unique<System>()) {}

HttpPoster::~HttpPoster() = default;

void HttpPoster::cancel() {
    cancelled_ = true;
    ::SetEvent(system_->cancel);
}

HttpPostAnswer HttpPoster::post(const HttpPostRequest& request) {
    HttpPostAnswer answer;
    const Clock::time_point deadline = Clock::now() + request.wholeBound;
    const auto msLeft = [&] {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return static_cast<DWORD>(std::clamp<long long>(ms, 0, 0x7FFFFFFF));
    };
    const auto failed = [&](DWORD code) {
        answer.status = 0;
        answer.body.clear();
        answer.error = cancelled_ ? "cancelled" : winHttpError(code);
        return answer;
    };
    if (cancelled_) return failed(ERROR_WINHTTP_OPERATION_CANCELLED);

    const std::wstring url = wideFromUtf8(request.url);
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
                                         WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC)};
    if (!session.h) return failed(::GetLastError());
    InternetHandle connection{::WinHttpConnect(session.h, host.c_str(), parts.nPort, 0)};
    if (!connection.h) return failed(::GetLastError());
    InternetHandle handle{::WinHttpOpenRequest(connection.h, L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                               WINHTTP_DEFAULT_ACCEPT_TYPES,
                                               parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0)};
    if (!handle.h) return failed(::GetLastError());
    // From here on the exchange belongs to the request's handle.
    auto* exchange = new Exchange;
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(exchange);
    if (!exchange->done ||
        ::WinHttpSetStatusCallback(handle.h, onRequestNotice,
                                   WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                                   0) == WINHTTP_INVALID_STATUS_CALLBACK ||
        !::WinHttpSetOption(handle.h, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
        const DWORD code = ::GetLastError();
        ::WinHttpSetStatusCallback(handle.h, nullptr, 0, 0);
        delete exchange;
        return failed(code);
    }

    // WinHTTP's own bounds, behind the deadline kept here.
    const int connectMs = static_cast<int>(std::min<long long>(request.connectBound.count(), msLeft()));
    const int wholeMs = static_cast<int>(std::max<DWORD>(msLeft(), 1));
    ::WinHttpSetTimeouts(handle.h, connectMs, connectMs, wholeMs, wholeMs);
    ::WinHttpSetOption(handle.h, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, const_cast<int*>(&wholeMs), sizeof wholeMs);
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    ::WinHttpSetOption(handle.h, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);

    // Until the step's notice, the cancel or the deadline; false with the
    // error in `code`.
    DWORD code = 0;
    const auto completed = [&](BOOL started, DWORD expected) {
        if (!started) {
            code = ::GetLastError();
            return false;
        }
        const HANDLE events[2] = {exchange->done, system_->cancel};
        const DWORD woke = ::WaitForMultipleObjects(2, events, FALSE, msLeft());
        if (woke == WAIT_OBJECT_0 && exchange->completion == expected) return true;
        code = woke == WAIT_OBJECT_0 ? exchange->error
               : woke == WAIT_OBJECT_0 + 1 ? ERROR_WINHTTP_OPERATION_CANCELLED
                                           : ERROR_WINHTTP_TIMEOUT;
        return false;
    };

    std::wstring headers = L"Content-Type: " + wideFromUtf8(request.contentType) + L"\r\n";
    if (!request.bearerToken.empty()) headers += L"Authorization: Bearer " + wideFromUtf8(request.bearerToken) + L"\r\n";
    const auto bodyBytes = static_cast<DWORD>(request.body.size());
    if (!completed(::WinHttpSendRequest(handle.h, headers.c_str(), static_cast<DWORD>(-1),
                                        const_cast<char*>(request.body.data()), bodyBytes, bodyBytes, context),
                   WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE) ||
        !completed(::WinHttpReceiveResponse(handle.h, nullptr), WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE))
        return failed(code);
    DWORD status = 0, size = sizeof status;
    if (!::WinHttpQueryHeaders(handle.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return failed(::GetLastError());
    for (;;) {
        if (!completed(::WinHttpReadData(handle.h, exchange->buffer, sizeof exchange->buffer, nullptr),
                       WINHTTP_CALLBACK_STATUS_READ_COMPLETE))
            return failed(code);
        if (exchange->bytes == 0) break;
        if (answer.body.size() < maxAnswerBytes)
            answer.body.append(exchange->buffer, std::min<std::size_t>(exchange->bytes, maxAnswerBytes - answer.body.size()));
    }
    answer.status = static_cast<int>(status);
    return answer;
}

} // namespace mub
