// The Windows entry: arguments arrive as UTF-16 and are handed on in UTF-8
// (the encoding of paths throughout). The commands write UTF-8; what they
// write is made readable where it goes:
// - to a console window, as UTF-16 through WriteConsoleW, whatever the
//   console's code page (a UTF-8 code page is not reliable before Windows 10:
//   WriteFile then reports characters instead of bytes, and lines come out
//   cut or twice);
// - to a file or pipe, in GBK (code page 936), the encoding a Chinese
//   Windows reads such files in, with CR LF line ends; the JSON report of
//   --json stays UTF-8 (with CR LF too).
#include "tools/mubtool/command.h"
#include "tools/mubtool/stop_signals.h"
#include "tools/mubtool/terminal.h"

#include "platform/fine_timer_windows.h"
#include "platform/gbk_text.h"
#include "platform/wide_text_windows.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

// The length of the longest start of `text` that ends on a whole UTF-8
// character.
std::size_t wholeCharacters(std::string_view text) {
    std::size_t lead = text.size();
    for (int back = 0; back < 4 && lead > 0; ++back) {
        const auto byte = static_cast<unsigned char>(text[lead - 1]);
        if (byte < 0x80) return text.size();
        --lead;
        if (byte >= 0xC0) {
            const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
            return text.size() - lead >= length ? text.size() : lead;
        }
    }
    return text.size();
}

// Routes C streams (stdout, stderr or both) through one pipe whose reader
// thread writes what arrives to the first stream's original target,
// converted for it. Streams that share a console share the pipe, so that
// the order of their writes stays as it was.
class OutputConverter {
public:
    enum class Kind { Console, Gbk, Utf8 };
    struct Stream {
        std::FILE* file;
        int fd;
        int saved = -1; // the original target's descriptor while converted
    };

    OutputConverter(std::vector<Stream> streams, Kind kind) : streams_(std::move(streams)), kind_(kind) {
        if (streams_.empty()) return;
        const auto original = reinterpret_cast<HANDLE>(::_get_osfhandle(streams_.front().fd));
        if (original == INVALID_HANDLE_VALUE || original == nullptr) return;
        int ends[2];
        if (::_pipe(ends, 4096, _O_BINARY | _O_NOINHERIT) != 0) return;
        // The original targets live on in copies: the streams' own
        // descriptors are given to the pipe.
        for (Stream& stream : streams_) {
            std::fflush(stream.file);
            stream.saved = ::_dup(stream.fd);
            ::_dup2(ends[1], stream.fd);
        }
        target_ = reinterpret_cast<HANDLE>(::_get_osfhandle(streams_.front().saved));
        ::_close(ends[1]);
        reader_ = ends[0];
        thread_ = std::thread([this] { pump(); });
    }
    ~OutputConverter() {
        if (!thread_.joinable()) return;
        // Back to the original targets: the pipe's writing ends close, the
        // reader sees the end and is joined before the copies it writes to go.
        for (Stream& stream : streams_) {
            std::fflush(stream.file);
            ::_dup2(stream.saved, stream.fd);
        }
        thread_.join();
        for (Stream& stream : streams_) ::_close(stream.saved);
        ::_close(reader_);
    }
    OutputConverter(const OutputConverter&) = delete;
    OutputConverter& operator=(const OutputConverter&) = delete;

private:
    void pump() {
        std::string pending;
        char buffer[4096];
        for (;;) {
            const int n = ::_read(reader_, buffer, sizeof buffer);
            if (n <= 0) break;
            pending.append(buffer, static_cast<std::size_t>(n));
            // No character is cut in two.
            const std::size_t take = wholeCharacters(pending);
            write(pending.substr(0, take));
            pending.erase(0, take);
        }
        write(pending);
    }

    void write(const std::string& utf8Text) {
        if (utf8Text.empty()) return;
        if (kind_ == Kind::Console) {
            writeConsole(utf8Text);
            return;
        }
        std::string text;
        for (const char c : utf8Text) {
            if (c == '\n' && !lastWasCr_) text += '\r';
            text += c;
            lastWasCr_ = c == '\r';
        }
        if (kind_ == Kind::Gbk) text = mub::gbk(text);
        DWORD put = 0;
        ::WriteFile(target_, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
    }

    // The one escape sequence the commands write, "ESC [ K" (erase to the
    // end of the line, after the progress bar), done by the console's own
    // calls: the console of Windows 7 prints escape sequences as they are.
    void writeConsole(std::string_view utf8Text) {
        constexpr std::string_view eraseLine = "\x1b[K";
        for (;;) {
            const std::size_t escape = utf8Text.find(eraseLine);
            const std::wstring wide = mub::wideFromUtf8(utf8Text.substr(0, escape));
            DWORD put = 0;
            if (!wide.empty()) ::WriteConsoleW(target_, wide.data(), static_cast<DWORD>(wide.size()), &put, nullptr);
            if (escape == std::string_view::npos) return;
            CONSOLE_SCREEN_BUFFER_INFO info{};
            if (::GetConsoleScreenBufferInfo(target_, &info) && info.dwSize.X > info.dwCursorPosition.X) {
                DWORD blanked = 0;
                ::FillConsoleOutputCharacterW(target_, L' ',
                                              static_cast<DWORD>(info.dwSize.X - info.dwCursorPosition.X),
                                              info.dwCursorPosition, &blanked);
            }
            utf8Text.remove_prefix(escape + eraseLine.size());
        }
    }

    std::vector<Stream> streams_;
    Kind kind_;
    HANDLE target_ = INVALID_HANDLE_VALUE;
    int reader_ = -1;
    bool lastWasCr_ = false;
    std::thread thread_;
};

OutputConverter::Kind kindFor(int fd, bool utf8File) {
    if (mub::tool::isTerminal(fd)) return OutputConverter::Kind::Console;
    return utf8File ? OutputConverter::Kind::Utf8 : OutputConverter::Kind::Gbk;
}

} // namespace

int wmain(int argc, wchar_t** wideArgv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(mub::utf8FromWide(wideArgv[i]));
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    mub::FineTimer timer;
    int code;
    {
        // JSON is UTF-8 by its own rules: with --json, stdout carries nothing else.
        const bool json = std::find(args.begin(), args.end(), "--json") != args.end();
        const OutputConverter::Kind outKind = kindFor(1, json), errKind = kindFor(2, false);
        using Streams = std::vector<OutputConverter::Stream>;
        const bool oneConsole = outKind == OutputConverter::Kind::Console && errKind == OutputConverter::Kind::Console;
        OutputConverter out(oneConsole ? Streams{{stdout, 1}, {stderr, 2}} : Streams{{stdout, 1}}, outKind);
        OutputConverter err(oneConsole ? Streams{} : Streams{{stderr, 2}}, errKind);
        code = mub::tool::runMubtool(argc, argv.data());
        std::fflush(stdout);
        std::fflush(stderr);
    }
    // Everything is written, the end report too: a console window that is
    // being closed may end the program now.
    mub::tool::outputFinished();
    return code;
}
