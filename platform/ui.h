// The window-side interface the logic talks through.
//
// Connecting, upgrading and model checking never touch a toolkit: they write
// messages, fields, button states and progress through this interface, ask
// questions through its message boxes and wait with its pumpDelay. The Qt
// main window, the command-line companion and the tests each implement it.
// All texts are GBK byte strings.
#pragma once

#include <cstdint>
#include <string>

namespace mub {

// The controls whose state the logic changes.
enum class Control { UpgradeButton, DetectModelButton, OpenFileButton, ClearCountButton, BaudRateList };

// The single-line information fields.
enum class Field {
    FileModel,
    FileHardware,
    FileSoftware,
    MachineModel,
    MachineHardware,
    MachineSoftware,
    FilePath,
    Count,
};

class Ui {
public:
    virtual ~Ui() = default;

    // Message pane: replace the whole text, or add text at its end (callers
    // end their lines with "\r\n" themselves).
    virtual void setMessage(const std::string& text) = 0;
    virtual void appendMessage(const std::string& text) = 0;

    // Information fields; setting a text puts the caret at its end.
    virtual std::string fieldText(Field field) const = 0;
    virtual void setFieldText(Field field, const std::string& text) = 0;

    // Control states and the captions of the two toggle buttons.
    virtual void setEnabled(Control control, bool enabled) = 0;
    virtual bool isEnabled(Control control) const = 0;
    virtual std::string caption(Control control) const = 0;
    virtual void setCaption(Control control, const std::string& text) = 0;
    virtual void focus(Control control) = 0;

    // Baud-rate list: the selected item's text (empty when nothing is
    // selected) and its index (-1 when nothing is selected).
    virtual std::string selectedBaudText() const = 0;
    virtual int selectedBaudIndex() const = 0;

    // Progress display: the bar (position 0..100) and the percentage label.
    virtual void setProgress(int position) = 0;
    virtual int progress() const = 0;
    virtual void showProgress(bool visible) = 0;
    virtual void setPercentText(const std::string& text) = 0;
    virtual void showPercent(bool visible) = 0;

    // Status bar part 0 or 1, and the clock that writes part 1 every second.
    virtual void setStatusText(int part, const std::string& text) = 0;
    virtual void startClock() = 0;
    virtual void stopClock() = 0;

    // The time-out tick: arming (re)starts it with the interval; after the
    // interval `timeoutElapsed` reads true until cleared.
    virtual void armTimeout(int milliseconds) = 0;
    virtual bool timeoutElapsed() const = 0;
    virtual void clearTimeoutElapsed() = 0;

    // The main window's title; it is the caption of every message box.
    virtual std::string title() const = 0;

    // Message boxes without owner: an error box with OK, and a warning
    // question with Yes (true) and No (false).
    virtual void errorBox(const std::string& text) = 0;
    virtual bool askYesNo(const std::string& text) = 0;

    // The open-file dialog: title "打开文件", filter "升级文件(*.mub)" (*.mub),
    // single selection, starting in the folder the window set up once at
    // start-up. True with the chosen full path (GBK); false when cancelled.
    virtual bool chooseOpenFile(std::string& /*path*/) { return false; }

    // A tone of `hertz` for `milliseconds`; blocks for its duration.
    virtual void tone(int hertz, int milliseconds) = 0;

    // Milliseconds since some fixed point, wrapping at 32 bits.
    virtual std::uint32_t tickCount() const = 0;

    // Pauses at least `microseconds` while the window keeps handling its
    // events (a Stop click runs nested inside). Never returns early.
    virtual void pumpDelay(std::int32_t microseconds) = 0;

    // Like pumpDelay, but returns as soon as wake() has been called (from any
    // thread) since the previous pumpWait returned. Used by receive loops so
    // that arriving bytes are seen without waiting out the tick.
    virtual void pumpWait(std::int32_t microseconds) { pumpDelay(microseconds); }
    virtual void wake() {}
};

} // namespace mub
