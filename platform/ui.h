// The window's controls as the window logic and the open command see them:
// the message pane, the fields, button states and captions, progress, the
// status bar, message boxes and the open-file dialog, with the waits of
// platform/waits.h. The Qt main window, the Win32 window and the tests'
// window implement it; connecting, upgrading and model checking never see
// it (they tell what happens as session events, link/session_events.h).
// All texts are GBK byte strings.
#pragma once

#include "platform/waits.h"

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

class Ui : public Waits {
public:

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
};

} // namespace mub
