// Builds the main window from its tables and routes its messages to the
// window logic.
#include "app/win32/main_window.h"

#include "app/clock_text.h"
#include "app/main_layout.h"
#include "app/settings/settings_file.h"
#include "app/win32/dialog_template.h"
#include "app/win32/dpi_scale.h"
#include "app/win32/resource_ids.h"
#include "app/win32/text_edge.h"
#include "platform/gbk_text.h"
#include "platform/wide_text_windows.h"

#include <commctrl.h>

#include <stdexcept>
#include <tuple>

namespace mub {

namespace {

// A later copy asks this one to come to the front.
const UINT activationMessage = WM_APP + 1;
// Another thread posted tasks for the window's thread.
const UINT postedTasksMessage = WM_APP + 2;
// Part 0 of the status bar ends at this pixel at 96 DPI; part 1 takes the
// rest. The program is DPI-aware (its manifest), so it scales the pixel
// sizes it sets itself from the system DPI.
constexpr int statusPartEnd = 180;
constexpr int hotKeyId = 1;

struct WindowSearch {
    const wchar_t* property;
    HWND found;
};

BOOL CALLBACK findMarkedWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    if (!::GetPropW(window, search->property)) return TRUE;
    search->found = window;
    return FALSE;
}

} // namespace

Win32MainWindow::Win32MainWindow(std::string programDir)
    : programDir_(std::move(programDir)), wakeEvent_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      logic_(*this, *this) {}

Win32MainWindow::~Win32MainWindow() {
    if (hotKeyWindow_) ::DestroyWindow(hotKeyWindow_);
    if (window_) ::DestroyWindow(window_);
    if (instanceMutex_) ::CloseHandle(instanceMutex_);
    if (wakeEvent_) ::CloseHandle(wakeEvent_);
}

bool Win32MainWindow::start() {
    createWindow();
    return logic_.start(programDir_);
}

void Win32MainWindow::createWindow() {
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_BAR_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&classes);

    const DialogFrame frame{WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_CENTER, mainWindowWidthDu,
                            mainWindowHeightDu, L""};
    const std::vector<WORD> dialog = buildDialogTemplate(frame, mainWindowControls());
    window_ = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(dialog.data()),
                                          nullptr, dialogProc, reinterpret_cast<LPARAM>(this));
    if (!window_) throw std::runtime_error("the main window cannot be created: " + utf8(systemErrorText(::GetLastError())));

    setProgramIcon();
    buildMenuBar();
    // The template's size is the client area; the menu bar comes on top.
    RECT client{0, 0, mainWindowWidthDu, mainWindowHeightDu};
    ::MapDialogRect(window_, &client);
    RECT outer = client;
    ::AdjustWindowRectEx(&outer, static_cast<DWORD>(::GetWindowLongPtrW(window_, GWL_STYLE)), TRUE,
                         static_cast<DWORD>(::GetWindowLongPtrW(window_, GWL_EXSTYLE)));
    const int width = outer.right - outer.left, height = outer.bottom - outer.top;
    ::SetWindowPos(window_, nullptr, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                   (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);

    for (std::string_view rate : baudRateTexts)
        ::SendMessageW(item(IdBaudRateList), CB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>(wideFromUtf8(rate).c_str()));
    ::SendMessageW(item(IdMessagePane), EM_SETLIMITTEXT, 0, 0);

    HWND status = item(IdStatusBar);
    int parts[2] = {scaledPixels(statusPartEnd), -1};
    ::SendMessageW(status, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    ::SendMessageW(item(IdProgressBar), PBM_SETRANGE32, 0, 100);
    // The progress bar lies over the right end of the status bar, the
    // percentage over the bar (the first child is the top one).
    ::SetWindowPos(status, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::SetWindowPos(item(IdProgressBar), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::SetWindowPos(item(IdPercentLabel), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    captions_[Control::UpgradeButton] = gbk(findControlSpec(IdUpgradeButton)->text);
    captions_[Control::DetectModelButton] = gbk(findControlSpec(IdDetectModelButton)->text);
    fieldTexts_[Field::Count] = gbk(findControlSpec(IdCountField)->text);
}

// The caption and the task bar show the program icon, each in its own size
// taken from the icon resource; shared handles need no clean-up.
void Win32MainWindow::setProgramIcon() {
    const HINSTANCE program = ::GetModuleHandleW(nullptr);
    for (auto [kind, width, height] :
         {std::tuple{ICON_SMALL, SM_CXSMICON, SM_CYSMICON}, std::tuple{ICON_BIG, SM_CXICON, SM_CYICON}}) {
        HANDLE icon = ::LoadImageW(program, MAKEINTRESOURCEW(MUB_PROGRAM_ICON), IMAGE_ICON, ::GetSystemMetrics(width),
                                   ::GetSystemMetrics(height), LR_SHARED);
        ::SendMessageW(window_, WM_SETICON, static_cast<WPARAM>(kind), reinterpret_cast<LPARAM>(icon));
    }
}

void Win32MainWindow::buildMenuBar() {
    HMENU bar = ::CreateMenu();
    HMENU menu = nullptr;
    for (const MenuSpec& entry : mainMenuBar()) {
        if (entry.topLevel) {
            menu = ::CreatePopupMenu();
            ::AppendMenuW(bar, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(menu), wideFromUtf8(entry.text).c_str());
            continue;
        }
        if (!menu) continue;
        // The text after the tab is printed as a hint; no shortcut is set.
        if (!*entry.text)
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        else
            ::AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(entry.id), wideFromUtf8(entry.text).c_str());
    }
    ::SetMenu(window_, bar);
}

int Win32MainWindow::run() {
    ::ShowWindow(window_, SW_SHOWNORMAL);
    ::SetForegroundWindow(window_);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (::IsDialogMessageW(window_, &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

void Win32MainWindow::dispatchWaiting() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (window_ && ::IsDialogMessageW(window_, &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

INT_PTR CALLBACK Win32MainWindow::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        return TRUE;
    }
    auto* self = reinterpret_cast<Win32MainWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
    return self ? self->handle(message, wParam, lParam) : FALSE;
}

INT_PTR Win32MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        // Enter and Esc of the dialog do nothing; buttons and menu items
        // (and nothing else, such as a list's selection change) are commands.
        if (id == IDOK || id == IDCANCEL) return TRUE;
        if (lParam == 0 || HIWORD(wParam) == BN_CLICKED) logic_.command(id);
        return TRUE;
    }
    case WM_TIMER:
        if (wParam == clockTimer) setStatusText(1, clockTextNow());
        if (wParam == timeoutTimer) timeoutElapsed_ = true;
        return TRUE;
    case WM_CTLCOLORSTATIC:
        // The percentage is drawn over the progress bar without a background.
        if (reinterpret_cast<HWND>(lParam) == item(IdPercentLabel)) {
            ::SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
            return reinterpret_cast<INT_PTR>(::GetStockObject(NULL_BRUSH));
        }
        return FALSE;
    case WM_CLOSE:
        logic_.saveSettingsAndExit();
        return TRUE;
    // Log-off and shut-down send no close request: the settings are saved
    // at the question, and the process ends at the end.
    case WM_QUERYENDSESSION:
        logic_.sessionEnding();
        ::SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_ENDSESSION:
        if (wParam) logic_.sessionEnded();
        return TRUE;
    default:
        if (message == activationMessage) {
            logic_.onActivationRequested();
            return TRUE;
        }
        if (message == postedTasksMessage) {
            std::vector<std::function<void()>> tasks;
            {
                std::lock_guard<std::mutex> guard(postedLock_);
                tasks.swap(posted_);
            }
            for (const auto& task : tasks) task();
            return TRUE;
        }
        return FALSE;
    }
}

// F8 arrives at a message-only window of this thread: a hot key registered
// without a window is lost in the nested loops of boxes and dialogs (and
// crashes some emulated systems' servers). A press while F8 is still held
// down since the last one is the key's auto-repeat (MOD_NOREPEAT asks
// Windows to send none; Wine sends them anyway): the key's release is looked
// for every 30 ms after each press.
LRESULT CALLBACK Win32MainWindow::hotKeyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Win32MainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_HOTKEY && wParam == hotKeyId) {
        if (!self) return 0;
        const bool newPress = self->hotKeyRepeats_.press(static_cast<std::uint32_t>(::GetMessageTime()));
        ::SetTimer(window, hotKeyReleaseTimer, 30, nullptr);
        if (newPress) self->logic_.onUpgradeHotKey();
        return 0;
    }
    if (message == WM_TIMER && wParam == hotKeyReleaseTimer) {
        if (self && !(::GetAsyncKeyState(VK_F8) & 0x8000)) {
            self->hotKeyRepeats_.release(::GetTickCount());
            ::KillTimer(window, hotKeyReleaseTimer);
        }
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

bool Win32MainWindow::registerUpgradeHotKey() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = hotKeyProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"MubUpgradeHotKey";
    ::RegisterClassW(&windowClass);
    hotKeyWindow_ = ::CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      windowClass.hInstance, nullptr);
    if (!hotKeyWindow_) return false;
    ::SetWindowLongPtrW(hotKeyWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    // MOD_NOREPEAT: F8 held down sends one message, not one per repeat.
    return ::RegisterHotKey(hotKeyWindow_, hotKeyId, MOD_NOREPEAT, VK_F8) != FALSE;
}

// One message for all the tasks waiting: a busy sender cannot fill the queue.
void Win32MainWindow::runOnWindowThread(std::function<void()> task) {
    std::lock_guard<std::mutex> guard(postedLock_);
    posted_.push_back(std::move(task));
    if (posted_.size() == 1) ::PostMessageW(window_, postedTasksMessage, 0, 0);
}

bool Win32MainWindow::claimSingleInstance(const std::string& name) {
    propertyName_ = wideFromGbk(name);
    instanceMutex_ = ::CreateMutexW(nullptr, FALSE, propertyName_.c_str());
    if (instanceMutex_ && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        // Marks this window as the running copy for later ones.
        ::SetPropW(window_, propertyName_.c_str(), reinterpret_cast<HANDLE>(1));
        return true;
    }
    // The running copy's window carries the property named with the title.
    WindowSearch search{propertyName_.c_str(), nullptr};
    ::EnumWindows(findMarkedWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
        DWORD process = 0;
        ::GetWindowThreadProcessId(search.found, &process);
        ::AllowSetForegroundWindow(process);
        ::PostMessageW(search.found, activationMessage, 0, 0);
    }
    return false;
}

} // namespace mub
