// The Win32 main window: a view over the window logic. A dialog built in
// memory from the control table, the menu bar from the menu table, the
// status bar with its clock, and the window side (Ui) and desktop services
// (Desktop) with the W functions of the system. Texts arrive from the logic
// in GBK and are converted to UTF-16 at the window's edge. Clicks, menu
// items, F8, a later copy's request and the close request go to
// WindowLogic, which decides what happens.
//
// Everything runs on the window's thread; long operations keep the window
// alive through pumpDelay, so Stop, F8, the clock and the close request are
// handled nested inside them.
#pragma once

#include "app/desktop.h"
#include "app/key_repeat_filter.h"
#include "app/window_logic.h"
#include "platform/precise_timer_windows.h"
#include "platform/ui.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace mub {

class Win32MainWindow : public Ui, public Desktop {
public:
    // `programDir`: where cfg.ini and the bridge library are looked for.
    explicit Win32MainWindow(std::string programDir);
    ~Win32MainWindow() override;
    Win32MainWindow(const Win32MainWindow&) = delete;
    Win32MainWindow& operator=(const Win32MainWindow&) = delete;

    // Creates the window (hidden) and runs the start-up; false when the
    // program ends here, with exitCode().
    bool start();
    int exitCode() const { return logic_.exitCode(); }
    // Shows the window and handles its messages until the program ends.
    int run();

    // --- Ui ---
    void setMessage(const std::string& text) override;
    void appendMessage(const std::string& text) override;
    std::string fieldText(Field field) const override;
    void setFieldText(Field field, const std::string& text) override;
    void setEnabled(Control control, bool enabled) override;
    bool isEnabled(Control control) const override;
    std::string caption(Control control) const override;
    void setCaption(Control control, const std::string& text) override;
    void focus(Control control) override;
    std::string selectedBaudText() const override;
    int selectedBaudIndex() const override;
    void setProgress(int position) override;
    int progress() const override;
    void showProgress(bool visible) override;
    void setPercentText(const std::string& text) override;
    void showPercent(bool visible) override;
    void setStatusText(int part, const std::string& text) override;
    void startClock() override;
    void stopClock() override;
    void armTimeout(int milliseconds) override;
    bool timeoutElapsed() const override;
    void clearTimeoutElapsed() override;
    std::string title() const override;
    void errorBox(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    bool chooseOpenFile(std::string& path) override;
    void tone(int hertz, int milliseconds) override;
    std::uint32_t tickCount() const override;
    void pumpDelay(std::int32_t microseconds) override;
    void pumpWait(std::int32_t microseconds) override;
    void pumpWaitAfter(std::int32_t pauseMicroseconds, std::int32_t microseconds) override;
    void wake() override;

    // --- Desktop ---
    void setTitle(const std::string& title) override;
    void selectBaudRate(int index) override;
    void bringToFront() override;
    void raiseWindow() override;
    bool claimSingleInstance(const std::string& name) override;
    bool registerUpgradeHotKey() override;
    void setOpenDialogFolder(const std::string& folder) override;
    bool messageBox(const std::string& title, const std::string& text, BoxIcon icon, bool yesNo) override;
    void showAbout(const std::string& title) override;
    std::string systemInfoProgram() override;
    void startProgram(const std::string& program) override;
    void openAddress(const std::string& address) override;
    void endProcess(int code) override;
    void runOnWindowThread(std::function<void()> task) override;

private:
    static constexpr UINT_PTR clockTimer = 1, timeoutTimer = 2;
    // On the hot-key window: looks for the release of F8 after a press.
    static constexpr UINT_PTR hotKeyReleaseTimer = 3;

    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK hotKeyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);

    void createWindow();
    void setProgramIcon();
    void buildMenuBar();
    HWND item(int id) const { return ::GetDlgItem(window_, id); }
    // Handles every message waiting for this thread.
    void dispatchWaiting();
    // Draws the bar and the percentage set since they were last drawn.
    void drawDueProgress();
    class Pauses;
    void pause(std::int64_t microseconds, bool wakeable, std::int32_t floorMicroseconds = 0);

    std::string programDir_;
    HWND window_ = nullptr;
    HWND hotKeyWindow_ = nullptr;
    KeyRepeatFilter hotKeyRepeats_;
    HANDLE instanceMutex_ = nullptr;
    HANDLE wakeEvent_ = nullptr;
    // Times the pauses' waits; re-armed by each wait, nested ones too.
    PreciseTimer timer_;
    std::wstring propertyName_;
    std::wstring openDialogFolder_;

    // GBK originals of what the window shows, so that bytes that are not
    // valid GBK survive a round trip through the controls.
    std::map<Field, std::string> fieldTexts_;
    std::map<Control, std::string> captions_;
    std::string paneText_;
    std::string title_;

    // Set but not drawn yet (see setProgress).
    std::optional<int> dueProgress_;
    std::optional<std::wstring> duePercent_;
    bool clockRunning_ = false;
    std::atomic<bool> timeoutElapsed_{false};
    std::atomic<bool> woken_{false};
    int waitDepth_ = 0;

    // Tasks other threads posted for this thread (runOnWindowThread).
    std::mutex postedLock_;
    std::vector<std::function<void()>> posted_;

    // Last: it goes first, while the window it reports to still stands.
    WindowLogic logic_;
};

} // namespace mub
