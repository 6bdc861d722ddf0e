// The desktop services of the Qt window: start-up's window placement, single
// instance, F8, the About window, started programs and addresses, the end of
// the process and the close request.
#include "app/qt/main_window.h"

#include "app/qt/about_window.h"
#include "app/qt/global_hot_key.h"
#include "app/qt/single_instance.h"
#include "platform/gbk_text.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

namespace mub {

namespace {

QString shown(const std::string& gbkText) { return QString::fromStdString(utf8(gbkText)); }

} // namespace

MainWindow::~MainWindow() = default;

bool MainWindow::start() {
    if (logic_.started()) return true;
    if (!logic_.start(programDir_.toStdString())) return false;
    // Fixed size, centred on the screen.
    adjustSize();
    setFixedSize(sizeHint());
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    return true;
}

void MainWindow::setTitle(const std::string& title) {
    title_ = title;
    setWindowTitle(shown(title));
}

void MainWindow::selectBaudRate(int index) { baudRateList_->setCurrentIndex(index); }

void MainWindow::bringToFront() {
    if (isMinimized()) showNormal();
    show();
    QWidget::raise();
    activateWindow();
}

void MainWindow::raiseWindow() { QWidget::raise(); }

bool MainWindow::claimSingleInstance(const std::string& name) {
    singleInstance_ = std::make_unique<SingleInstance>(name);
    if (!singleInstance_->claim()) return false;
    connect(singleInstance_.get(), &SingleInstance::activationRequested, this,
            [this] { logic_.onActivationRequested(); });
    return true;
}

bool MainWindow::registerUpgradeHotKey() { return hotKey_->registerF8(); }

// The settings give the dialog's folder in GBK, also when it is the program
// folder. (GBK bytes can also form valid UTF-8, so they are never guessed.)
void MainWindow::setOpenDialogFolder(const std::string& folder) { openDialogFolder_ = shown(folder); }

void MainWindow::showAbout(const std::string& title) {
    AboutWindow about(this, shown(title), units_);
    connect(&about, &AboutWindow::systemInfoRequested, this, [this] { logic_.showSystemInfo(); });
    runModal(about);
}

void MainWindow::runModal(QDialog& dialog) { dialog.exec(); }

// The first known system-information program found on the path.
std::string MainWindow::systemInfoProgram() {
    for (const char* name : {"hardinfo", "gnome-system-monitor", "plasma-systemmonitor", "ksysguard", "lshw-gtk"}) {
        QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty()) return gbk(path.toStdString());
    }
    return {};
}

void MainWindow::startProgram(const std::string& program) { QProcess::startDetached(shown(program), {}); }

void MainWindow::openAddress(const std::string& address) { QDesktopServices::openUrl(QUrl(shown(address))); }

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    logic_.saveSettingsAndExit();
}

void MainWindow::endProcess(int code) {
    std::fflush(nullptr);
    if (waitDepth_ == 0) {
        // Nothing waits nested: leave the event loop and end normally.
        QCoreApplication::exit(code);
        return;
    }
    // A run is waiting further out; the settings are on disk (written
    // through a renamed temporary file), so the process can end under it.
    std::_Exit(code);
}

// A queued call on this object: run by its thread's event loop, dropped
// with the object.
void MainWindow::runOnWindowThread(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

} // namespace mub
