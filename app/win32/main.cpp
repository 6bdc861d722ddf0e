// The Windows window program: one main window, started in the order of its
// start-up steps; a second copy or a missing bridge library ends it before
// it shows.
#include "app/settings/settings_file.h"
#include "app/win32/main_window.h"

#include "platform/fine_timer_windows.h"
#include "platform/wide_text_windows.h"

#include <exception>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The link's millisecond waits need the system timer's 1 ms period, also
    // while the window is minimised.
    mub::FineTimer timer;
    try {
        mub::Win32MainWindow window(mub::programFolder());
        if (!window.start()) return window.exitCode();
        return window.run();
    } catch (const std::exception& error) {
        // Only the window's own creation can fail this way.
        ::MessageBoxW(nullptr, mub::wideFromUtf8(error.what()).c_str(), L"upgrader", MB_OK | MB_ICONERROR);
        return 1;
    }
}
