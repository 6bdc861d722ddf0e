// The window interface on a terminal, for mubtool's headless upgrade and
// model check: message-pane texts go to stdout in UTF-8, message boxes to
// stderr, questions are answered by an option or asked on the terminal, and
// a progress bar is drawn on stderr when it is a terminal. Ctrl+C acts as
// the Stop button.
#pragma once

#include "tools/mubtool/headless_ui.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace mub::tool {

class TerminalUi : public HeadlessUi {
public:
    struct Options {
        std::string title;          // GBK; its ending decides how strict the checks are
        std::string baudText = "57600";
        int baudIndex = 5;
        std::optional<bool> answer; // --yes / --no
        bool progressBar = false;   // draw the bar (stderr is a terminal)
        bool askOnTerminal = false; // stdin is a terminal: ask questions there
    };

    explicit TerminalUi(Options options, std::FILE* out = stdout, std::FILE* err = stderr);
    ~TerminalUi() override;

    void setMessage(const std::string& text) override;
    void appendMessage(const std::string& text) override;
    void setProgress(int position) override;
    void showProgress(bool visible) override;
    void errorBox(const std::string& text) override;
    bool askYesNo(const std::string& text) override;

    // Ctrl+C (SIGINT) and SIGTERM request a stop; the pause under way runs
    // onStop once, the way a Stop click runs nested inside a wait, and ends:
    // nobody waits for it any more. A second Ctrl+C ends the program at once.
    // A closed output pipe (SIGPIPE) is ignored.
    void catchStopSignals();

    // A question came while neither --yes/--no nor a terminal could answer it.
    bool questionUnanswered() const { return unanswered_; }

    // Image bytes acknowledged so far, for the progress bar's throughput.
    void transferProgress(std::uint64_t bytesDone, std::uint64_t bytesTotal);

    // Ends an open output line and erases the bar; call before exiting.
    void finish();

    // "\r\n" to "\n", GBK to UTF-8.
    static std::string terminalText(const std::string& gbkText);

    // Where the message-pane texts go (stdout, or stderr when stdout carries
    // a machine-readable report).
    std::FILE* out() const { return out_; }

protected:
    bool stopAsked() const override;

private:
    void eraseBar();
    void drawBar();
    void print(const std::string& gbkText);

    Options options_;
    std::FILE* out_;
    std::FILE* err_;
    bool lineOpen_ = false;
    bool barShown_ = false;
    bool unanswered_ = false;

    std::optional<Clock::time_point> transferStart_;
    Clock::time_point lastDraw_;
    std::uint64_t bytesDone_ = 0;
    std::uint64_t bytesTotal_ = 0;
};

} // namespace mub::tool
