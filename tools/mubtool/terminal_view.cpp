#include "tools/mubtool/terminal_view.h"

#include "platform/gbk_text.h"

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

TerminalView::TerminalView(Options options, HeadlessWaits& waits, std::FILE* out, std::FILE* err)
    : options_(std::move(options)), waits_(waits), out_(out), err_(err) {}

TerminalView::~TerminalView() { finish(); }

std::string TerminalView::terminalText(const std::string& gbkText) {
    std::string text = utf8(gbkText);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

void TerminalView::on(const SessionEvent& event) {
    using K = SessionEventKind;
    if (event.kind == K::Completed) {
        position_ = 100;
        drawBar();
    }
    if (event.pane == Pane::Replace) setMessage(event.text);
    if (event.pane == Pane::Append) print(event.text);
    switch (event.kind) {
    case K::MachineReady:
    case K::Progress:
        position_ = event.position;
        if (!transferStart_) transferStart_ = Clock::now();
        break;
    case K::BlockAcknowledged: transferProgress(event.bytesDone, event.bytesTotal); break;
    case K::DisplayRestored: eraseBar(); break;
    // No sound without a window; the pause keeps the run's timing.
    case K::Tone: waits_.pause(std::chrono::milliseconds(event.milliseconds)); break;
    // After a Ctrl+C (during the identification tone, say) the pane's last
    // text stays the Stop's.
    case K::Identified:
        if (!waits_.stopRequested()) printMachineInfo(event.machine);
        break;
    case K::LogFailed:
        finish();
        std::fprintf(stderr, "mubtool: upgrade log %s: %s (nothing else is affected)\n", options_.logPath.c_str(),
                     event.value.c_str());
        std::fflush(stderr);
        break;
    default: break;
    }
    if (!event.box.empty() && event.kind != K::Question) errorBox(event.box);
}

void TerminalView::endLine() {
    if (lineOpen_) {
        std::fputc('\n', out_);
        lineOpen_ = false;
    }
}

void TerminalView::print(const std::string& gbkText) {
    const std::string text = terminalText(gbkText);
    if (text.empty()) return;
    eraseBar();
    std::fputs(text.c_str(), out_);
    lineOpen_ = text.back() != '\n';
    std::fflush(out_);
}

void TerminalView::setMessage(const std::string& text) {
    // The pane is replaced: on a terminal the new text starts a new line.
    endLine();
    print(text);
}

void TerminalView::printMachineInfo(const MachineInfo& machine) {
    finish();
    std::fprintf(out_, "%s: %s\n%s: %s\n%s: %s\n", "机器型号", printableUtf8(machine.model).c_str(), "硬件版本",
                 printableUtf8(machine.hardware).c_str(), "软件版本", printableUtf8(machine.software).c_str());
    std::fflush(out_);
}

void TerminalView::transferProgress(std::uint64_t bytesDone, std::uint64_t bytesTotal) {
    bytesDone_ = bytesDone;
    bytesTotal_ = bytesTotal;
    if (!transferStart_) transferStart_ = Clock::now();
    const auto now = Clock::now();
    if (now - lastDraw_ >= std::chrono::milliseconds(100) || bytesDone >= bytesTotal) {
        lastDraw_ = now;
        drawBar();
    }
}

void TerminalView::drawBar() {
    if (!options_.progressBar || !transferStart_) return;
    const double seconds = std::chrono::duration<double>(Clock::now() - *transferStart_).count();
    const double rate = seconds > 0 ? static_cast<double>(bytesDone_) / seconds / 1024.0 : 0.0;
    const int percent = bytesTotal_ ? static_cast<int>(bytesDone_ * 100 / bytesTotal_) : position_;
    constexpr int width = 30;
    const int filled = percent * width / 100;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(width - filled), '-');
    if (lineOpen_) {
        endLine();
        std::fflush(out_);
    }
    std::fprintf(err_, "\r[%s] %3d%%  %llu/%llu bytes  %.1f KiB/s\033[K", bar.c_str(), percent,
                 static_cast<unsigned long long>(bytesDone_), static_cast<unsigned long long>(bytesTotal_), rate);
    std::fflush(err_);
    barShown_ = true;
}

void TerminalView::eraseBar() {
    if (!barShown_) return;
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    barShown_ = false;
}

void TerminalView::errorBox(const std::string& text) {
    eraseBar();
    endLine();
    std::fflush(out_);
    std::fprintf(err_, "mubtool: error box [%s]: %s\n", terminalText(options_.title).c_str(), terminalText(text).c_str());
    std::fflush(err_);
}

std::optional<bool> TerminalView::ask(const SessionEvent& event) {
    eraseBar();
    endLine();
    std::fflush(out_);
    const std::string question = terminalText(event.box);
    // A message box handles the events waiting for the window, so a Stop
    // pressed just before it opened takes effect now, before the answer.
    waits_.deliverStop();
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
        return std::nullopt;
    }
    if (waits_.stopDelivered()) {
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
            waits_.deliverStop();
            return false;
        }
        const std::string answer = trimmedLine(line);
        if (answer == "y" || answer == "Y" || answer == "yes" || answer == "是") return true;
        if (answer == "n" || answer == "N" || answer == "no" || answer == "否") return false;
    }
}

void TerminalView::finish() {
    eraseBar();
    endLine();
    std::fflush(out_);
}

} // namespace mub::tool
