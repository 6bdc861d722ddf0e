#include "app/screenshot_mode.h"

#include "app/main_layout.h"
#include "app/main_window.h"
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
        // Watch the transfer from the run's own waits.
        auto* watch = new QTimer(this);
        connect(watch, &QTimer::timeout, this, [this, watch] {
            auto* bar = static_cast<QProgressBar*>(window_.control(IdProgressBar));
            if (!transferSaved_ && bar->isVisible() && bar->value() >= 30) {
                save(&window_, folder_, "main-transfer.png");
                transferSaved_ = true;
            }
            if (++ticks_ > 1200) watch->stop(); // one minute at most
        });
        watch->start(50);
        QTimer::singleShot(0, this, [this] {
            window_.toggleUpgrade(); // returns when the run has ended
            save(&window_, folder_, "main-done.png");
            QTimer::singleShot(0, this, [this] { about(); });
        });
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
    int ticks_ = 0;
};

} // namespace

void startScreenshotModeIfAsked(MainWindow& window) {
    QString folder = qEnvironmentVariable("UPGRADER_SCREENSHOTS");
    if (folder.isEmpty()) return;
    new ScreenshotDriver(window, folder, qEnvironmentVariable("UPGRADER_SCREENSHOT_FILE"));
}

} // namespace mub
