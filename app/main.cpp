// The window program: one main window, started in the order of its start-up
// steps; a second copy or a missing bridge library ends it before it shows.
#include "app/main_window.h"
#include "app/screenshot_mode.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    mub::MainWindow window;
    if (!window.start()) return window.exitCode();
    window.show();
    mub::startScreenshotModeIfAsked(window);
    return application.exec();
}
