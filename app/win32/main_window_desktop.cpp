// The desktop services of the Win32 window: caption, baud rates, the front
// window, the About window, the system-information program, started
// programs and addresses, and the end of the process.
#include "app/main_layout.h"
#include "app/win32/dialog_template.h"
#include "app/win32/dpi_scale.h"
#include "app/win32/main_window.h"
#include "app/win32/resource_ids.h"
#include "app/win32/text_edge.h"

#include <shellapi.h>

#include <cstdio>
#include <filesystem>

namespace mub {

namespace {

struct AboutContext {
    std::wstring title;
    WindowLogic* logic;
    HBITMAP banner = nullptr; // the scaled banner, the window's to release
};

// The banner is drawn in pixels for 96 DPI; at a higher DPI it is scaled
// with the rest of the window (smoothly: halftone). Null at 96 DPI.
HBITMAP scaledBanner() {
    HANDLE loaded = ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(MUB_ABOUT_BANNER), IMAGE_BITMAP, 0, 0,
                                 LR_CREATEDIBSECTION);
    if (!loaded) return nullptr;
    auto* original = static_cast<HBITMAP>(loaded);
    BITMAP size{};
    ::GetObjectW(original, sizeof size, &size);
    const int width = scaledPixels(size.bmWidth), height = scaledPixels(size.bmHeight);
    HBITMAP scaled = nullptr;
    if (width != size.bmWidth) {
        HDC screen = ::GetDC(nullptr);
        HDC from = ::CreateCompatibleDC(screen), to = ::CreateCompatibleDC(screen);
        scaled = ::CreateCompatibleBitmap(screen, width, height);
        HGDIOBJ oldFrom = ::SelectObject(from, original), oldTo = ::SelectObject(to, scaled);
        ::SetStretchBltMode(to, HALFTONE);
        ::SetBrushOrgEx(to, 0, 0, nullptr);
        ::StretchBlt(to, 0, 0, width, height, from, 0, 0, size.bmWidth, size.bmHeight, SRCCOPY);
        ::SelectObject(from, oldFrom);
        ::SelectObject(to, oldTo);
        ::DeleteDC(from);
        ::DeleteDC(to);
        ::ReleaseDC(nullptr, screen);
    }
    ::DeleteObject(original);
    return scaled;
}

INT_PTR CALLBACK aboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* context = reinterpret_cast<AboutContext*>(lParam);
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        ::SetDlgItemTextW(dialog, IdAboutTitle, context->title.c_str());
        ::SetDlgItemTextW(dialog, IdAboutVersion, wideFromUtf8(aboutVersionText()).c_str());
        context->banner = scaledBanner();
        if (context->banner) {
            const auto previous = ::SendDlgItemMessageW(dialog, IdAboutBanner, STM_SETIMAGE, IMAGE_BITMAP,
                                                        reinterpret_cast<LPARAM>(context->banner));
            if (previous) ::DeleteObject(reinterpret_cast<HGDIOBJ>(previous));
        }
        return TRUE;
    }
    auto* context = reinterpret_cast<AboutContext*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    if (message == WM_COMMAND && context) {
        switch (LOWORD(wParam)) {
        case IdAboutOkButton:
        case IDOK:
        case IDCANCEL: ::EndDialog(dialog, IDOK); return TRUE;
        case IdAboutSystemInfoButton: context->logic->showSystemInfo(); return TRUE;
        default: break;
        }
    }
    if (message == WM_CLOSE) {
        ::EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

std::wstring registryText(HKEY root, const wchar_t* key, const wchar_t* value) {
    wchar_t text[MAX_PATH * 2] = {};
    DWORD size = sizeof(text);
    if (::RegGetValueW(root, key, value, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) return {};
    return text;
}

} // namespace

void Win32MainWindow::setTitle(const std::string& title) {
    title_ = title;
    ::SetWindowTextW(window_, wideFromGbk(title).c_str());
}

void Win32MainWindow::selectBaudRate(int index) {
    ::SendMessageW(item(IdBaudRateList), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Win32MainWindow::bringToFront() {
    if (::IsIconic(window_)) ::ShowWindow(window_, SW_RESTORE);
    ::ShowWindow(window_, SW_SHOW);
    ::SetForegroundWindow(window_);
}

void Win32MainWindow::raiseWindow() {
    ::SetWindowPos(window_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// The settings give the folder in GBK, also when it is the program folder.
void Win32MainWindow::setOpenDialogFolder(const std::string& folder) { openDialogFolder_ = wideFromGbk(folder); }

// Modal to the main window; the boxes of 系统信息 have no owner and take
// input while it is open.
void Win32MainWindow::showAbout(const std::string& title) {
    AboutContext context{wideFromGbk(title), &logic_};
    const std::vector<WORD> dialog =
        buildDialogTemplate({WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, aboutWindowWidthDu,
                             aboutWindowHeightDu, L"关于"},
                            aboutWindowControls(), IdAboutOkButton);
    ++waitDepth_;
    ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(dialog.data()), window_,
                              aboutProc, reinterpret_cast<LPARAM>(&context));
    --waitDepth_;
    if (context.banner) ::DeleteObject(context.banner);
}

// The system-information program the registry names, when it is there.
std::string Win32MainWindow::systemInfoProgram() {
    std::wstring path = registryText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Shared Tools\\MSInfo", L"Path");
    if (path.empty()) {
        const std::wstring folder =
            registryText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Shared Tools Location", L"MSINFO");
        if (!folder.empty()) path = folder + L"\\MSINFO32.EXE";
    }
    std::error_code ignored;
    if (path.empty() || !std::filesystem::is_regular_file(path, ignored)) return {};
    return gbkFromWide(path);
}

void Win32MainWindow::startProgram(const std::string& program) {
    ::ShellExecuteW(nullptr, L"open", wideFromGbk(program).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// The address opens through explorer.exe, which hands it to the browser.
void Win32MainWindow::openAddress(const std::string& address) {
    ::ShellExecuteW(nullptr, L"open", L"explorer.exe", wideFromGbk(address).c_str(), nullptr, SW_SHOWNORMAL);
}

// The settings are on disk (written through a renamed temporary file), so
// the process can end at once, also under a run's wait.
void Win32MainWindow::endProcess(int code) {
    std::fflush(nullptr);
    if (waitDepth_ == 0) {
        ::PostQuitMessage(code);
        ::ShowWindow(window_, SW_HIDE);
        return;
    }
    ::ExitProcess(static_cast<UINT>(code));
}

} // namespace mub
