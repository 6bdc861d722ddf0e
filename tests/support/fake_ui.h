// A window for tests: records every message, field, state and box, answers
// questions from a queue, and keeps time either for real or on a virtual
// clock that pumpDelay advances (for waits that would make a test slow).
#pragma once

#include "platform/ui.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace mub::test {

class FakeUi : public Ui {
public:
    enum class Clock { Real, Virtual };
    explicit FakeUi(Clock clock = Clock::Real);

    void setMessage(const std::string& text) override;
    void appendMessage(const std::string& text) override;
    std::string fieldText(Field field) const override;
    void setFieldText(Field field, const std::string& text) override;
    void setEnabled(Control control, bool enabled) override;
    bool isEnabled(Control control) const override;
    std::string caption(Control control) const override;
    void setCaption(Control control, const std::string& text) override;
    void focus(Control control) override { focused = control; }
    std::string selectedBaudText() const override { return baudText; }
    int selectedBaudIndex() const override { return baudIndex; }
    void setProgress(int position) override;
    int progress() const override { return progressPosition; }
    void showProgress(bool visible) override { progressVisible = visible; }
    void setPercentText(const std::string& text) override { percentText = text; }
    void showPercent(bool visible) override { percentVisible = visible; }
    void setStatusText(int part, const std::string& text) override { statusText[part] = text; }
    void startClock() override { clockRunning = true; }
    void stopClock() override { clockRunning = false; }
    void armTimeout(int milliseconds) override;
    bool timeoutElapsed() const override;
    void clearTimeoutElapsed() override;
    std::string title() const override { return windowTitle; }
    void errorBox(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    bool chooseOpenFile(std::string& path) override;
    void tone(int hertz, int milliseconds) override;
    std::uint32_t tickCount() const override;
    void pumpDelay(std::int32_t microseconds) override;
    void pumpWait(std::int32_t microseconds) override;
    void wake() override;

    // Current message-pane text (GBK) and every setMessage text in order.
    std::string pane() const;
    std::vector<std::string> shownMessages() const;

    // Runs inside every pause, like a window handling its events; a test
    // uses it to press Stop or to let a simulated device act.
    std::function<void()> onPump;
    // Runs as each setMessage text is shown, on the caller's thread, before
    // the caller goes on: for a test that acts at an exact step.
    std::function<void(const std::string&)> onMessage;

    // Configuration and records, public for tests to read and set.
    std::string windowTitle;
    std::string baudText = "57600";
    int baudIndex = 5;
    std::deque<bool> answers;            // answers to askYesNo, front first
    std::vector<std::string> errorBoxes; // texts of the error boxes
    std::vector<std::string> questions;  // texts of the questions asked
    std::deque<std::string> openFileChoices; // paths the open dialog returns, front first; empty: cancel
    int openDialogsShown = 0;
    std::vector<std::pair<int, int>> tones;
    std::vector<int> progressHistory;
    int progressPosition = 0;
    bool progressVisible = false;
    std::string percentText;
    bool percentVisible = false;
    std::map<int, std::string> statusText;
    bool clockRunning = true;
    Control focused = Control::UpgradeButton;

    // Virtual clock: microseconds passed; a test may let time pass.
    std::int64_t virtualMicros() const { return virtualMicros_.load(); }
    void letTimePass(std::int64_t micros) { virtualMicros_ += micros; }

private:
    std::int64_t nowMicros() const;

    const Clock clock_;
    const std::chrono::steady_clock::time_point start_;
    std::atomic<std::int64_t> virtualMicros_{0};
    std::int64_t timeoutDeadline_ = -1; // micros; -1 when not armed
    bool timeoutFlag_ = false;

    mutable std::mutex mutex_; // guards the pane and the wake flag
    std::condition_variable wakeCv_;
    bool woken_ = false;
    std::string pane_;
    std::vector<std::string> messages_;
    std::map<Field, std::string> fields_;
    std::map<Control, bool> enabled_;
    std::map<Control, std::string> captions_;
};

} // namespace mub::test
