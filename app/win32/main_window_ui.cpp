// The window side of the logic: fields, buttons, progress, status bar,
// timers, boxes and the pauses that keep the window alive.
#include "app/clock_text.h"
#include "app/main_layout.h"
#include "app/win32/main_window.h"
#include "app/win32/open_file_dialog.h"
#include "app/win32/text_edge.h"
#include "platform/event_pause.h"

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace mub {

namespace {


std::wstring windowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

} // namespace

void Win32MainWindow::setMessage(const std::string& text) {
    drawDueProgress();
    paneText_ = text;
    ::SetWindowTextW(item(IdMessagePane), wideFromGbk(text).c_str());
}

void Win32MainWindow::appendMessage(const std::string& text) {
    drawDueProgress();
    paneText_ += text;
    HWND pane = item(IdMessagePane);
    const int end = ::GetWindowTextLengthW(pane);
    ::SendMessageW(pane, EM_SETSEL, static_cast<WPARAM>(end), end);
    ::SendMessageW(pane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wideFromGbk(text).c_str()));
    ::SendMessageW(pane, EM_SCROLLCARET, 0, 0);
}

std::string Win32MainWindow::fieldText(Field field) const {
    auto it = fieldTexts_.find(field);
    return it == fieldTexts_.end() ? std::string() : it->second;
}

void Win32MainWindow::setFieldText(Field field, const std::string& text) {
    fieldTexts_[field] = text;
    HWND edit = item(controlIdOf(field));
    ::SetWindowTextW(edit, wideFromGbk(text).c_str());
    const int end = ::GetWindowTextLengthW(edit);
    ::SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(end), end);
}

void Win32MainWindow::setEnabled(Control control, bool enabled) { ::EnableWindow(item(controlIdOf(control)), enabled); }

bool Win32MainWindow::isEnabled(Control control) const { return ::IsWindowEnabled(item(controlIdOf(control))) != FALSE; }

std::string Win32MainWindow::caption(Control control) const {
    auto it = captions_.find(control);
    if (it != captions_.end()) return it->second;
    return gbkFromWide(windowText(item(controlIdOf(control))));
}

void Win32MainWindow::setCaption(Control control, const std::string& text) {
    captions_[control] = text;
    ::SetWindowTextW(item(controlIdOf(control)), wideFromGbk(text).c_str());
}

void Win32MainWindow::focus(Control control) {
    ::SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(controlIdOf(control))), TRUE);
}

std::string Win32MainWindow::selectedBaudText() const {
    const int index = selectedBaudIndex();
    if (index < 0) return {};
    HWND list = item(IdBaudRateList);
    std::wstring text(static_cast<std::size_t>(::SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0)) + 1,
                      L'\0');
    const auto length = ::SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return gbkFromWide(text);
}

int Win32MainWindow::selectedBaudIndex() const {
    return static_cast<int>(::SendMessageW(item(IdBaudRateList), CB_GETCURSEL, 0, 0));
}

// The run sets the bar and the percentage just before a block goes out,
// and they change every few blocks. Drawn there (a few milliseconds under
// Wine, and the drawing is done at once) they would hold that block up: they
// are drawn at the run's next pause instead, while the block is on the line.
// Whatever else the window shows draws them first, so what is on screen
// comes in the run's order. An unchanged value is not drawn again.
void Win32MainWindow::setProgress(int position) {
    if (position == progress()) return;
    dueProgress_ = position;
}

int Win32MainWindow::progress() const {
    if (dueProgress_) return *dueProgress_;
    return static_cast<int>(::SendMessageW(item(IdProgressBar), PBM_GETPOS, 0, 0));
}

void Win32MainWindow::showProgress(bool visible) {
    drawDueProgress();
    ::ShowWindow(item(IdProgressBar), visible ? SW_SHOWNA : SW_HIDE);
}

void Win32MainWindow::setPercentText(const std::string& text) {
    std::wstring wide = wideFromGbk(text);
    if (!duePercent_) {
        wchar_t shown[32];
        const int length = ::GetWindowTextW(item(IdPercentLabel), shown, 32);
        if (length < 31 && wide == std::wstring(shown, static_cast<std::size_t>(length))) return;
    }
    duePercent_ = std::move(wide);
}

void Win32MainWindow::drawDueProgress() {
    if (dueProgress_) {
        const int position = *dueProgress_;
        dueProgress_.reset();
        if (position != progress()) {
            ::SendMessageW(item(IdProgressBar), PBM_SETPOS, static_cast<WPARAM>(position), 0);
            // The transparent percentage is drawn again over the new bar.
            ::RedrawWindow(item(IdPercentLabel), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        }
    }
    if (duePercent_) {
        const std::wstring wide = std::move(*duePercent_);
        duePercent_.reset();
        // The old text goes with the bar drawn again beneath the label.
        ::RedrawWindow(item(IdProgressBar), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        ::SetWindowTextW(item(IdPercentLabel), wide.c_str());
    }
}

void Win32MainWindow::showPercent(bool visible) {
    drawDueProgress();
    ::ShowWindow(item(IdPercentLabel), visible ? SW_SHOWNA : SW_HIDE);
}

void Win32MainWindow::setStatusText(int part, const std::string& text) {
    if (part < 0 || part > 1) return;
    ::SendMessageW(item(IdStatusBar), SB_SETTEXTW, static_cast<WPARAM>(part),
                   reinterpret_cast<LPARAM>(wideFromGbk(text).c_str()));
}

void Win32MainWindow::startClock() {
    if (clockRunning_) return;
    clockRunning_ = true;
    // The first tick comes at once, the next ones every second.
    setStatusText(1, clockTextNow());
    ::SetTimer(window_, clockTimer, 1000, nullptr);
}

void Win32MainWindow::stopClock() {
    clockRunning_ = false;
    ::KillTimer(window_, clockTimer);
}

void Win32MainWindow::armTimeout(int milliseconds) {
    timeoutElapsed_ = false;
    ::SetTimer(window_, timeoutTimer, static_cast<UINT>(std::max<int>(milliseconds, USER_TIMER_MINIMUM)), nullptr);
}

bool Win32MainWindow::timeoutElapsed() const { return timeoutElapsed_.load(); }

void Win32MainWindow::clearTimeoutElapsed() { timeoutElapsed_ = false; }

std::string Win32MainWindow::title() const { return title_; }

void Win32MainWindow::errorBox(const std::string& text) { messageBox(title_, text, BoxIcon::Error, false); }

bool Win32MainWindow::askYesNo(const std::string& text) { return messageBox(title_, text, BoxIcon::Warning, true); }

// No owner: the box stands on its own and the main window stays usable
// while it waits (Stop, 清零, the menu, closing), as in the waits of a run.
// Its loop counts as a wait, so a close inside it ends the process.
bool Win32MainWindow::messageBox(const std::string& gbkTitle, const std::string& gbkText, BoxIcon icon, bool yesNo) {
    drawDueProgress(); // a box waits for the operator: the window behind it is up to date
    UINT style = yesNo ? MB_YESNO : MB_OK;
    if (icon == BoxIcon::Error) style |= MB_ICONERROR;
    if (icon == BoxIcon::Warning) style |= MB_ICONWARNING;
    ++waitDepth_;
    const int answer = ::MessageBoxW(nullptr, wideFromGbk(gbkText).c_str(), wideFromGbk(gbkTitle).c_str(), style);
    --waitDepth_;
    return yesNo ? answer == IDYES : true;
}

bool Win32MainWindow::chooseOpenFile(std::string& path) {
    ++waitDepth_;
    const std::wstring chosen = chooseUpgradeFile(window_, openDialogFolder_, L"打开文件");
    --waitDepth_;
    if (chosen.empty()) return false;
    path = gbkFromWide(chosen);
    return true;
}

void Win32MainWindow::tone(int hertz, int milliseconds) { toneWhileHandlingEvents(*this, hertz, milliseconds); }

std::uint32_t Win32MainWindow::tickCount() const { return ::GetTickCount(); }

// Pauses by the front ends' common rule (platform/event_pause.h): events
// are the thread's messages; a wait of a millisecond or more sleeps in the
// system's wait for a message, the wake event or the precise timer.
class Win32MainWindow::Pauses : public PauseHost {
public:
    explicit Pauses(Win32MainWindow& window) : window_(window) {}
    void handleEvents() override {
        window_.drawDueProgress();
        window_.dispatchWaiting();
    }
    void waitForEvents(Clock::time_point deadline, bool wakeable) override {
        window_.drawDueProgress(); // before the wait for the block's reply
        HANDLE handles[2];
        DWORD count = 0;
        if (wakeable && window_.wakeEvent_) handles[count++] = window_.wakeEvent_;
        DWORD timeout = INFINITE;
        if (window_.timer_.arm(deadline))
            handles[count++] = window_.timer_.handle();
        else
            timeout = PreciseTimer::fallbackMilliseconds(deadline);
        ::MsgWaitForMultipleObjectsEx(count, handles, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    bool takeWake() override { return window_.woken_.exchange(false); }
    // Messages are per thread: the window's thread, or an F8 run's own.
    Clock::time_point* eventsHandledAt() override {
        thread_local Clock::time_point handledAt{};
        return &handledAt;
    }

private:
    Win32MainWindow& window_;
};

void Win32MainWindow::pumpDelay(std::int32_t microseconds) { pause(microseconds, false); }

// The same pause, ended early by wake(); a wake that came before it began
// ends it at once.
void Win32MainWindow::pumpWait(std::int32_t microseconds) { pause(microseconds, true); }

// pumpDelay and then pumpWait, as one pause that sleeps through the first.
void Win32MainWindow::pumpWaitAfter(std::int32_t pauseMicroseconds, std::int32_t microseconds) {
    pause(std::int64_t{pauseMicroseconds} + microseconds, true, pauseMicroseconds);
}

void Win32MainWindow::pause(std::int64_t microseconds, bool wakeable, std::int32_t floorMicroseconds) {
    Pauses pauses(*this);
    ++waitDepth_;
    pauseHandlingEvents(pauses, std::chrono::microseconds(microseconds), wakeable,
                        std::chrono::microseconds(floorMicroseconds));
    --waitDepth_;
}

// May come from the serial listener thread.
void Win32MainWindow::wake() {
    woken_ = true;
    ::SetEvent(wakeEvent_);
}

} // namespace mub
