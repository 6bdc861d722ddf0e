// The window interface without a window, as mubtool's runs need it: fields,
// button states and captions kept in memory, the time-out tick on the
// steady clock, pauses by the front ends' common rule, and a stop that runs onStop nested inside
// the pause under way, the way a Stop click does. What a run shows (the
// message pane, message boxes, questions, progress) is left to the derived
// class: the terminal of `mubtool upgrade`, a port of `mubtool station`.
#pragma once

#include "platform/event_pause.h"
#include "platform/ui.h"
#include "platform/wake_wait.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
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
    // Pauses `length`, handling a stop as soon as it comes (within a few
    // milliseconds); ends early once a stop was handled.
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

    // A pause's events are the stop; its wait sleeps in short slices so
    // that a stop asked from a signal handler is seen soon. A plain pause
    // ends once a stop was handled; a wakeable one (a read) waits on for its
    // bytes, as the reader decides about the stop itself.
    class Pauses : public PauseHost {
    public:
        Pauses(HeadlessUi& ui, bool endsAtStop) : ui_(ui), endsAtStop_(endsAtStop) {}
        void handleEvents() override { ui_.deliverStop(); }
        void waitForEvents(Clock::time_point deadline, bool wakeable) override;
        bool takeWake() override { return ui_.wakes_.takeWake(); }
        bool abandoned() override { return endsAtStop_ && ui_.stopDelivered_; }

    private:
        HeadlessUi& ui_;
        bool endsAtStop_;
    };
    void pause(std::chrono::microseconds length, bool wakeable);

    WakeWait wakes_;
};

} // namespace mub::tool
