// mubtool's view of an upgrade session on a terminal: message-pane texts go
// to stdout in UTF-8 (or stderr when stdout carries a JSON report), message
// boxes to stderr, questions are answered by an option or asked on the
// terminal, and a progress bar is drawn on stderr when it is a terminal.
#pragma once

#include "link/session_events.h"
#include "upgrade/headless_waits.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace mub::tool {

class TerminalView : public SessionObserver {
public:
    struct Options {
        std::string title;          // GBK: the caption of the error boxes
        std::optional<bool> answer; // --yes / --no
        bool progressBar = false;   // draw the bar (stderr is a terminal)
        bool askOnTerminal = false; // stdin is a terminal: ask questions there
        std::string logPath;        // named when the upgrade log cannot be written
    };

    TerminalView(Options options, HeadlessWaits& waits, std::FILE* out = stdout, std::FILE* err = stderr);
    ~TerminalView() override;

    void on(const SessionEvent& event) override;

    // A question of the run: the option's answer, the terminal's, or none
    // (stdin is no terminal and no option was given).
    std::optional<bool> ask(const SessionEvent& question);

    // An error box outside a session (the bridge library cannot be used, the
    // file cannot be read).
    void errorBox(const std::string& text);

    // Ends an open output line and erases the bar; call before exiting.
    void finish();

    // "\r\n" to "\n", GBK to UTF-8.
    static std::string terminalText(const std::string& gbkText);

    // Where the message-pane texts go.
    std::FILE* out() const { return out_; }

private:
    using Clock = std::chrono::steady_clock;
    void setMessage(const std::string& text);
    void print(const std::string& gbkText);
    void endLine();
    void transferProgress(std::uint64_t bytesDone, std::uint64_t bytesTotal);
    void eraseBar();
    void drawBar();
    void printMachineInfo(const MachineInfo& machine);

    Options options_;
    HeadlessWaits& waits_;
    std::FILE* out_;
    std::FILE* err_;
    bool lineOpen_ = false;
    bool barShown_ = false;
    int position_ = 0;

    std::optional<Clock::time_point> transferStart_;
    Clock::time_point lastDraw_;
    std::uint64_t bytesDone_ = 0;
    std::uint64_t bytesTotal_ = 0;
};

} // namespace mub::tool
