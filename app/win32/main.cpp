// The Windows window program: one main window, started in the order of its
// start-up steps; a second copy or a missing bridge library ends it before
// it shows.
#include "app/settings/settings_file.h"
#include "app/win32/main_window.h"

#include <mmsystem.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The link's millisecond waits need the system timer's 1 ms period.
    ::timeBeginPeriod(1);
    mub::Win32MainWindow window(mub::programFolder());
    if (!window.start()) return window.exitCode();
    return window.run();
}
