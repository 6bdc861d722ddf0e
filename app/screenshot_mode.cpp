#include "app/screenshot_mode.h"

#include "app/main_layout.h"
#include "app/main_window.h"
#include "link/machine_link.h"
#include "platform/gbk_text.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace mub {

namespace {

void save(QWidget* widget, const QString& folder, const char* name) {
    QString path = folder + QLatin1Char('/') + QLatin1String(name);
    bool ok = widget && widget->grab().save(path, "PNG");
    std::printf("screenshot %s: %s\n", ok ? "saved" : "FAILED", path.toLocal8Bit().constData());
    std::fflush(stdout);
}

class ScreenshotDriver : public QObject {
public:
    ScreenshotDriver(MainWindow& window, QString folder, QString file)
        : QObject(&window), window_(window), folder_(std::move(folder)), file_(std::move(file)) {
        QDir().mkpath(folder_);
        // Long enough for the clock to have ticked more than once.
        QTimer::singleShot(2500, this, [this] { idle(); });
    }

private:
    void idle() {
        save(&window_, folder_, "main-idle.png");
        if (file_.isEmpty()) {
            about();
            return;
        }
        window_.answerOpenDialogWith(file_);
        window_.openUpgradeFileCommand();
        // The run is started by an F8 press from outside (the script sends
        // one); without it the run is started directly after a while.
        std::printf("screenshots: waiting for F8\n");
        std::fflush(stdout);
        auto* watch = new QTimer(this);
        connect(watch, &QTimer::timeout, this, [this, watch] {
            ++ticks_;
            bool running = window_.link() && window_.link()->running.load();
            if (running && !started_) {
                started_ = true;
                std::printf("screenshots: run started%s\n", direct_ ? " directly" : " by F8");
                std::fflush(stdout);
            }
            auto* bar = static_cast<QProgressBar*>(window_.control(IdProgressBar));
            if (!transferSaved_ && bar->isVisible() && bar->value() >= 30) {
                save(&window_, folder_, "main-transfer.png");
                transferSaved_ = true;
            }
            if (started_ && !running && window_.caption(Control::UpgradeButton) == gbk("升级(F8)")) {
                watch->stop();
                save(&window_, folder_, "main-done.png");
                QTimer::singleShot(0, this, [this] { about(); });
                return;
            }
            if (!started_ && !direct_ && ticks_ > 160) {
                direct_ = true;
                QTimer::singleShot(0, &window_, [this] { window_.toggleUpgrade(); });
            }
            if (ticks_ > 2400) { // two minutes at most
                watch->stop();
                QTimer::singleShot(0, this, [this] { about(); });
            }
        });
        watch->start(50);
    }

    void about() {
        QTimer::singleShot(800, this, [this] {
            QWidget* dialog = QApplication::activeModalWidget();
            save(dialog, folder_, "about.png");
            if (dialog) dialog->close();
            QTimer::singleShot(0, &window_, [this] { window_.close(); });
        });
        window_.showAbout();
    }

    MainWindow& window_;
    QString folder_;
    QString file_;
    bool transferSaved_ = false;
    bool started_ = false;
    bool direct_ = false;
    int ticks_ = 0;
};

} // namespace

void startScreenshotModeIfAsked(MainWindow& window) {
    QString folder = qEnvironmentVariable("UPGRADER_SCREENSHOTS");
    if (folder.isEmpty()) return;
    new ScreenshotDriver(window, folder, qEnvironmentVariable("UPGRADER_SCREENSHOT_FILE"));
}

} // namespace mub
