// The window program: one main window, started in the order of its start-up
// steps; a second copy or a missing bridge library ends it before it shows.
#include "app/qt/main_window.h"
#include "app/qt/qt_translations.h"
#include "app/qt/termination_signals.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    mub::installQtChinese(application);
    mub::MainWindow window;
    // Taken before start-up, so a signal during it waits for the event loop.
    mub::TerminationSignals termination([&window] { window.close(); });
    if (!window.start()) return window.exitCode();
    window.show();
    return application.exec();
}
