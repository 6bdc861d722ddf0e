// The window interface on a terminal, for mubtool's headless upgrade and
// model check: message-pane texts go to stdout in UTF-8, message boxes to
// stderr, questions are answered by an option or asked on the terminal, and
// a progress bar is drawn on stderr when it is a terminal. Ctrl+C acts as
// the Stop button.
#pragma once

#include "platform/ui.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace mub::tool {

class TerminalUi : public Ui {
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
    std::string fieldText(Field field) const override;
    void setFieldText(Field field, const std::string& text) override;
    void setEnabled(Control control, bool enabled) override;
    bool isEnabled(Control control) const override;
    std::string caption(Control control) const override;
    void setCaption(Control control, const std::string& text) override;
    void focus(Control) override {}
    std::string selectedBaudText() const override { return options_.baudText; }
    int selectedBaudIndex() const override { return options_.baudIndex; }
    void setProgress(int position) override;
    int progress() const override { return progress_; }
    void showProgress(bool visible) override;
    void setPercentText(const std::string&) override {}
    void showPercent(bool) override {}
    void setStatusText(int, const std::string&) override {}
    void startClock() override {}
    void stopClock() override {}
    void armTimeout(int milliseconds) override;
    bool timeoutElapsed() const override;
    void clearTimeoutElapsed() override;
    std::string title() const override { return options_.title; }
    void errorBox(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    void tone(int hertz, int milliseconds) override;
    std::uint32_t tickCount() const override;
    void pumpDelay(std::int32_t microseconds) override;
    void pumpWait(std::int32_t microseconds) override;
    void wake() override;

    // Ctrl+C (SIGINT) and SIGTERM request a stop; the pause under way runs
    // onStop once, the way a Stop click runs nested inside a wait, and ends:
    // nobody waits for it any more. A second Ctrl+C ends the program at once.
    // A closed output pipe (SIGPIPE) is ignored.
    void catchStopSignals();
    std::function<void()> onStop;
    bool stopRequested() const;

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

private:
    using Clock = std::chrono::steady_clock;
    void deliverStop();
    // Sleeps `length` in short slices, handling a stop as soon as it comes;
    // ends early once a stop was handled.
    void pause(Clock::duration length);
    void eraseBar();
    void drawBar();
    void print(const std::string& gbkText);

    Options options_;
    std::FILE* out_;
    std::FILE* err_;
    bool lineOpen_ = false;
    bool barShown_ = false;
    bool unanswered_ = false;
    bool stopDelivered_ = false;

    std::map<Field, std::string> fields_;
    std::map<Control, bool> enabled_;
    std::map<Control, std::string> captions_;
    int progress_ = 0;

    Clock::time_point start_;
    Clock::time_point timeoutDeadline_;
    Clock::duration timeoutInterval_{};
    bool timeoutArmed_ = false;

    std::optional<Clock::time_point> transferStart_;
    Clock::time_point lastDraw_;
    std::uint64_t bytesDone_ = 0;
    std::uint64_t bytesTotal_ = 0;

    std::mutex wakeLock_;
    std::condition_variable wakeCv_;
    bool woken_ = false;
};

} // namespace mub::tool
