#include "tools/mubtool/terminal_ui.h"

#include "platform/gbk_text.h"
#include "tools/mubtool/stop_signals.h"


namespace mub::tool {

namespace {

std::string trimmedLine(const char* line) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    std::size_t start = 0;
    while (start < s.size() && s[start] == ' ') ++start;
    return s.substr(start);
}

} // namespace

TerminalUi::TerminalUi(Options options, std::FILE* out, std::FILE* err)
    : HeadlessUi(options.title, options.baudText, options.baudIndex), options_(std::move(options)), out_(out),
      err_(err) {}

TerminalUi::~TerminalUi() { finish(); }

void TerminalUi::catchStopSignals() { mub::tool::catchStopSignals(); }

std::string TerminalUi::terminalText(const std::string& gbkText) {
    std::string text = utf8(gbkText);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

void TerminalUi::print(const std::string& gbkText) {
    const std::string text = terminalText(gbkText);
    if (text.empty()) return;
    eraseBar();
    std::fputs(text.c_str(), out_);
    lineOpen_ = text.back() != '\n';
    std::fflush(out_);
}

void TerminalUi::setMessage(const std::string& text) {
    // The pane is replaced: on a terminal the new text starts a new line.
    if (lineOpen_) {
        std::fputc('\n', out_);
        lineOpen_ = false;
    }
    print(text);
}

void TerminalUi::appendMessage(const std::string& text) { print(text); }

void TerminalUi::setProgress(int position) {
    HeadlessUi::setProgress(position);
    if (!transferStart_) transferStart_ = Clock::now();
    if (position >= 100) drawBar();
}

void TerminalUi::showProgress(bool visible) {
    if (!visible) eraseBar();
}

void TerminalUi::transferProgress(std::uint64_t bytesDone, std::uint64_t bytesTotal) {
    bytesDone_ = bytesDone;
    bytesTotal_ = bytesTotal;
    if (!transferStart_) transferStart_ = Clock::now();
    const auto now = Clock::now();
    if (now - lastDraw_ >= std::chrono::milliseconds(100) || bytesDone >= bytesTotal) {
        lastDraw_ = now;
        drawBar();
    }
}

void TerminalUi::drawBar() {
    if (!options_.progressBar || !transferStart_) return;
    const double seconds = std::chrono::duration<double>(Clock::now() - *transferStart_).count();
    const double rate = seconds > 0 ? static_cast<double>(bytesDone_) / seconds / 1024.0 : 0.0;
    const int percent = bytesTotal_ ? static_cast<int>(bytesDone_ * 100 / bytesTotal_) : progress();
    constexpr int width = 30;
    const int filled = percent * width / 100;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(width - filled), '-');
    if (lineOpen_) {
        std::fputc('\n', out_);
        std::fflush(out_);
        lineOpen_ = false;
    }
    std::fprintf(err_, "\r[%s] %3d%%  %llu/%llu bytes  %.1f KiB/s\033[K", bar.c_str(), percent,
                 static_cast<unsigned long long>(bytesDone_), static_cast<unsigned long long>(bytesTotal_), rate);
    std::fflush(err_);
    barShown_ = true;
}

void TerminalUi::eraseBar() {
    if (!barShown_) return;
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    barShown_ = false;
}

void TerminalUi::errorBox(const std::string& text) {
    eraseBar();
    if (lineOpen_) {
        std::fputc('\n', out_);
        lineOpen_ = false;
    }
    std::fflush(out_);
    std::fprintf(err_, "mubtool: error box [%s]: %s\n", terminalText(options_.title).c_str(), terminalText(text).c_str());
    std::fflush(err_);
}

bool TerminalUi::askYesNo(const std::string& text) {
    eraseBar();
    if (lineOpen_) {
        std::fputc('\n', out_);
        lineOpen_ = false;
    }
    std::fflush(out_);
    const std::string question = terminalText(text);
    // A message box handles the events waiting for the window, so a Stop
    // pressed just before it opened takes effect now, before the answer.
    deliverStop();
    if (options_.answer) {
        std::fprintf(err_, "mubtool: question: %s\nmubtool: answered %s (%s)\n", question.c_str(),
                     *options_.answer ? "yes" : "no", *options_.answer ? "--yes" : "--no");
        std::fflush(err_);
        return *options_.answer;
    }
    if (!options_.askOnTerminal) {
        std::fprintf(err_,
                     "mubtool: question: %s\nmubtool: no answer: stdin is not a terminal and neither --yes nor --no "
                     "was given; answering no\n",
                     question.c_str());
        std::fflush(err_);
        unanswered_ = true;
        return false;
    }
    if (stopDelivered()) {
        // Nobody waits for the answer any more: the run was stopped.
        std::fprintf(err_, "mubtool: question: %s\nmubtool: stopped; answering no\n", question.c_str());
        std::fflush(err_);
        return false;
    }
    for (;;) {
        std::fprintf(err_, "mubtool: question: %s [y/n] ", question.c_str());
        std::fflush(err_);
        char line[256];
        if (!std::fgets(line, sizeof line, stdin)) {
            // End of input or Ctrl+C: the answer is No, and a Ctrl+C is
            // also the Stop press.
            std::clearerr(stdin);
            std::fputc('\n', err_);
            deliverStop();
            return false;
        }
        const std::string answer = trimmedLine(line);
        if (answer == "y" || answer == "Y" || answer == "yes" || answer == "是") return true;
        if (answer == "n" || answer == "N" || answer == "no" || answer == "否") return false;
    }
}

bool TerminalUi::stopAsked() const { return stopSignalled(); }

void TerminalUi::finish() {
    eraseBar();
    if (lineOpen_) {
        std::fputc('\n', out_);
        lineOpen_ = false;
    }
    std::fflush(out_);
}

} // namespace mub::tool
