// The window interface without a window, as mubtool's runs need it: fields,
// button states and captions kept in memory, the time-out tick on the
// steady clock, pauses that sleep, and a stop that runs onStop nested inside
// the pause under way, the way a Stop click does. What a run shows (the
// message pane, message boxes, questions, progress) is left to the derived
// class: the terminal of `mubtool upgrade`, a port of `mubtool station`.
#pragma once

#include "platform/ui.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace mub::tool {

class HeadlessUi : public Ui {
public:
    HeadlessUi(std::string title, std::string baudText, int baudIndex);

    std::string fieldText(Field field) const override;
    void setFieldText(Field field, const std::string& text) override;
    void setEnabled(Control control, bool enabled) override;
    bool isEnabled(Control control) const override;
    std::string caption(Control control) const override;
    void setCaption(Control control, const std::string& text) override;
    void focus(Control) override {}
    std::string selectedBaudText() const override { return baudText_; }
    int selectedBaudIndex() const override { return baudIndex_; }
    void setProgress(int position) override { progress_ = position; }
    int progress() const override { return progress_; }
    void showProgress(bool) override {}
    void setPercentText(const std::string&) override {}
    void showPercent(bool) override {}
    void setStatusText(int, const std::string&) override {}
    void startClock() override {}
    void stopClock() override {}
    void armTimeout(int milliseconds) override;
    bool timeoutElapsed() const override;
    void clearTimeoutElapsed() override;
    std::string title() const override { return title_; }
    void tone(int hertz, int milliseconds) override;
    std::uint32_t tickCount() const override;
    void pumpDelay(std::int32_t microseconds) override;
    void pumpWait(std::int32_t microseconds) override;
    void wake() override;

    // Run once, nested in the pause under way, when stopAsked() turns true;
    // the pause then ends: nobody waits for it any more.
    std::function<void()> onStop;
    bool stopRequested() const { return stopDelivered_ || stopAsked(); }

protected:
    using Clock = std::chrono::steady_clock;
    // Whether a stop is asked for (Ctrl+C, the end of a bounded wait).
    virtual bool stopAsked() const = 0;
    // Runs onStop once when a stop is asked for and was not handled yet.
    void deliverStop();
    bool stopDelivered() const { return stopDelivered_; }
    // A new operation on the same window: a stop may be asked for again.
    void rearmStop() { stopDelivered_ = false; }
    // Sleeps `length` in short slices, handling a stop as soon as it comes;
    // ends early once a stop was handled.
    void pause(Clock::duration length);

private:
    std::string title_;
    std::string baudText_;
    int baudIndex_;
    bool stopDelivered_ = false;

    std::map<Field, std::string> fields_;
    std::map<Control, bool> enabled_;
    std::map<Control, std::string> captions_;
    int progress_ = 0;

    Clock::time_point start_;
    Clock::time_point timeoutDeadline_;
    Clock::duration timeoutInterval_{};
    bool timeoutArmed_ = false;

    std::mutex wakeLock_;
    std::condition_variable wakeCv_;
    bool woken_ = false;
};

} // namespace mub::tool
