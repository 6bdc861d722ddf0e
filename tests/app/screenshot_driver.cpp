// Review pictures of the real window, for scripts/screenshots: a test-only
// program that runs the Qt main window with the program folder given,
// drives it once through idle, open, transfer and About, saves a PNG of each
// and closes it through its close request. The run is started by an F8
// press from outside (the script sends one with xdotool); without one it is
// started with the button after a while.
//   screenshot_driver PROGRAM_DIR OUTDIR [FILE.mub]
#include "app/main_layout.h"
#include "app/qt/main_window.h"
#include "link/machine_link.h"
#include "platform/gbk_text.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

using mub::MainWindow;

void save(QWidget* widget, const QString& folder, const char* name) {
    QString path = folder + QLatin1Char('/') + QLatin1String(name);
    bool ok = widget && widget->grab().save(path, "PNG");
    std::printf("screenshot %s: %s\n", ok ? "saved" : "FAILED", path.toLocal8Bit().constData());
    std::fflush(stdout);
}

// The window whose open dialog is answered with the given file once.
class DrivenWindow : public MainWindow {
public:
    DrivenWindow(const QString& programDir, QString file) : MainWindow(programDir), file_(std::move(file)) {}

protected:
    bool runFileDialog(QString& path) override {
        if (file_.isEmpty()) return MainWindow::runFileDialog(path);
        path = file_;
        file_.clear();
        return true;
    }

private:
    QString file_;
};

class ScreenshotDriver : public QObject {
public:
    ScreenshotDriver(DrivenWindow& window, QString folder, bool withFile)
        : QObject(&window), window_(window), folder_(std::move(folder)), withFile_(withFile) {
        QDir().mkpath(folder_);
        // Long enough for the clock to have ticked more than once.
        QTimer::singleShot(2500, this, [this] { idle(); });
    }

private:
    void idle() {
        save(&window_, folder_, "main-idle.png");
        if (!withFile_) {
            about();
            return;
        }
        static_cast<QPushButton*>(window_.control(mub::IdOpenFileButton))->click();
        std::printf("screenshots: waiting for F8\n");
        std::fflush(stdout);
        auto* watch = new QTimer(this);
        connect(watch, &QTimer::timeout, this, [this, watch] {
            ++ticks_;
            bool running = window_.logic().link()->running.load();
            if (running && !started_) {
                started_ = true;
                std::printf("screenshots: run started%s\n", direct_ ? " directly" : " by F8");
                std::fflush(stdout);
            }
            auto* bar = static_cast<QProgressBar*>(window_.control(mub::IdProgressBar));
            if (!transferSaved_ && bar->isVisible() && bar->value() >= 30) {
                save(&window_, folder_, "main-transfer.png");
                transferSaved_ = true;
            }
            if (started_ && !running && window_.caption(mub::Control::UpgradeButton) == mub::gbk("升级(F8)")) {
                watch->stop();
                save(&window_, folder_, "main-done.png");
                QTimer::singleShot(0, this, [this] { about(); });
                return;
            }
            if (!started_ && !direct_ && ticks_ > 160) {
                direct_ = true;
                QTimer::singleShot(0, &window_, [this] {
                    static_cast<QPushButton*>(window_.control(mub::IdUpgradeButton))->click();
                });
            }
            if (ticks_ > 2400) { // two minutes at most; keep what the window shows then
                watch->stop();
                save(&window_, folder_, "main-unfinished.png");
                QTimer::singleShot(0, this, [this] { about(); });
            }
        });
        watch->start(50);
    }

    void about() {
        QTimer::singleShot(800, this, [this] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (top->isVisible() && top != &window_ && top != QApplication::activeModalWidget())
                    std::printf("screenshots: another window is open: %s\n", top->windowTitle().toUtf8().constData());
            QWidget* dialog = QApplication::activeModalWidget();
            save(dialog, folder_, "about.png");
            if (dialog) dialog->close();
            QTimer::singleShot(0, &window_, [this] { window_.close(); });
        });
        window_.menuAction(mub::MenuAbout)->trigger();
    }

    DrivenWindow& window_;
    QString folder_;
    bool withFile_;
    bool transferSaved_ = false;
    bool started_ = false;
    bool direct_ = false;
    int ticks_ = 0;
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: screenshot_driver PROGRAM_DIR OUTDIR [FILE.mub]\n");
        return 2;
    }
    QString file = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    DrivenWindow window(QString::fromLocal8Bit(argv[1]), file);
    if (!window.start()) return window.exitCode();
    window.show();
    new ScreenshotDriver(window, QString::fromLocal8Bit(argv[2]), !file.isEmpty());
    return application.exec();
}
