// The Windows entry: arguments arrive as UTF-16 and are handed on in UTF-8
// (the encoding of paths throughout). Output, written in UTF-8 by the
// commands, is made readable where it goes: a console is switched to UTF-8
// for the run, and output redirected to a file or pipe is converted to GBK
// (code page 936), the encoding a Chinese Windows reads such files in; the
// JSON report of --json stays UTF-8.
#include "tools/mubtool/command.h"

#include "platform/gbk_text.h"
#include "platform/fine_timer_windows.h"
#include "platform/wide_text_windows.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <thread>
#include <vector>

namespace {

bool isConsole(HANDLE h) {
    DWORD mode = 0;
    return h != INVALID_HANDLE_VALUE && h != nullptr && ::GetConsoleMode(h, &mode) != FALSE;
}

// Routes one C stream (stdout or stderr) through a pipe whose reader
// converts complete UTF-8 text to GBK and writes it to the original target.
class GbkRedirect {
public:
    GbkRedirect(std::FILE* stream, int fd, bool active = true) : stream_(stream), fd_(fd) {
        if (!active) return;
        const auto original = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
        if (original == INVALID_HANDLE_VALUE || isConsole(original)) return;
        int ends[2];
        if (::_pipe(ends, 4096, _O_BINARY | _O_NOINHERIT) != 0) return;
        std::fflush(stream_);
        // The original target lives on in a copy: the stream's own descriptor
        // is given to the pipe.
        saved_ = ::_dup(fd_);
        target_ = reinterpret_cast<HANDLE>(::_get_osfhandle(saved_));
        ::_dup2(ends[1], fd_);
        ::_close(ends[1]);
        reader_ = ends[0];
        thread_ = std::thread([this] { pump(); });
    }
    ~GbkRedirect() {
        if (!thread_.joinable()) return;
        std::fflush(stream_);
        ::_dup2(saved_, fd_); // closes the pipe's writing end: the reader sees its end
        thread_.join();       // before the copy it writes to goes
        ::_close(saved_);
        ::_close(reader_);
    }
    GbkRedirect(const GbkRedirect&) = delete;
    GbkRedirect& operator=(const GbkRedirect&) = delete;

private:
    void pump() {
        std::string pending;
        char buffer[4096];
        for (;;) {
            const int n = ::_read(reader_, buffer, sizeof buffer);
            if (n <= 0) break;
            pending.append(buffer, static_cast<std::size_t>(n));
            // Convert up to the last line end, so no character is cut in two.
            const std::size_t end = pending.find_last_of("\r\n");
            if (end == std::string::npos && pending.size() < 65536) continue;
            const std::size_t take = end == std::string::npos ? pending.size() : end + 1;
            write(pending.substr(0, take));
            pending.erase(0, take);
        }
        write(pending);
    }
    void write(const std::string& utf8Text) {
        const std::string text = mub::gbk(utf8Text);
        DWORD put = 0;
        if (!text.empty()) ::WriteFile(target_, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
    }

    std::FILE* stream_;
    int fd_;
    HANDLE target_ = INVALID_HANDLE_VALUE;
    int saved_ = -1;
    int reader_ = -1;
    std::thread thread_;
};

// Switches the console to UTF-8 output for the run and back afterwards.
class ConsoleUtf8 {
public:
    ConsoleUtf8() {
        if (!isConsole(::GetStdHandle(STD_OUTPUT_HANDLE)) && !isConsole(::GetStdHandle(STD_ERROR_HANDLE))) return;
        saved_ = ::GetConsoleOutputCP();
        ::SetConsoleOutputCP(CP_UTF8);
    }
    ~ConsoleUtf8() {
        if (saved_ != 0) ::SetConsoleOutputCP(saved_);
    }
    ConsoleUtf8(const ConsoleUtf8&) = delete;
    ConsoleUtf8& operator=(const ConsoleUtf8&) = delete;

private:
    UINT saved_ = 0;
};

} // namespace

int wmain(int argc, wchar_t** wideArgv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(mub::utf8FromWide(wideArgv[i]));
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    mub::FineTimer timer;
    ConsoleUtf8 console;
    // JSON is UTF-8 by its own rules: with --json, stdout carries nothing else.
    const bool json = std::find(args.begin(), args.end(), "--json") != args.end();
    GbkRedirect out(stdout, 1, !json);
    GbkRedirect err(stderr, 2);
    const int code = mub::tool::runMubtool(argc, argv.data());
    std::fflush(stdout);
    std::fflush(stderr);
    return code;
}
