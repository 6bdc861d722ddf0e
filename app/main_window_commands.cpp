// What the buttons, the menu, F8 and the close request do.
#include "app/main_window.h"

#include "app/about_window.h"
#include "app/settings/settings_file.h"
#include "link/connect_machine.h"
#include "link/machine_link.h"
#include "platform/gbk_text.h"
#include "upgrade/detect_model.h"
#include "upgrade/run_upgrade.h"
#include "upgrade_file/open_upgrade_file.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

namespace mub {

namespace {

const std::string& idleCaption() {
    static const std::string text = gbk("升级(F8)");
    return text;
}

} // namespace

// The caption of the upgrade button is the state: "升级(F8)" is idle, any
// other text a run in progress. Everything runs on the GUI thread (F8 too),
// so the test and the change of the caption are one step.
void MainWindow::toggleUpgrade() {
    if (!link_ || !file_.loaded) return;
    if (caption(Control::UpgradeButton) == idleCaption()) {
        // A model check holds the link (its button is the one that stops
        // it); an upgrade started under it would fight it for the replies.
        if (link_->running) return;
        link_->running = true;
        setCaption(Control::UpgradeButton, gbk("停止"));
        setEnabled(Control::DetectModelButton, false);
        if (connectMachine(*link_)) runUpgrade(*link_, file_);
    } else {
        setMessage(gbk("升级被停止！"));
    }
    // A stop runs this nested inside the run, and the run once more when it
    // returns; both passes leave the same state.
    finishUpgrade();
}

void MainWindow::finishUpgrade() {
    showProgress(false);
    showPercent(false);
    startClock();
    setEnabled(Control::OpenFileButton, true);
    setEnabled(Control::BaudRateList, true);
    setEnabled(Control::DetectModelButton, true);
    setEnabled(Control::UpgradeButton, true);
    focus(Control::UpgradeButton);
    link_->running = false;
    setCaption(Control::UpgradeButton, idleCaption());
    link_->closeTransport();
}

void MainWindow::onUpgradeHotKey() {
    if (!link_ || !file_.loaded) return;
    raise();
    toggleUpgrade();
}

void MainWindow::detectModelCommand() {
    if (!link_) return;
    detectModel(*link_, file_);
}

void MainWindow::openUpgradeFileCommand() {
    if (!opener_) return;
    opener_->openUpgradeFile();
}

void MainWindow::clearCount() { setFieldText(Field::Count, "0"); }

void MainWindow::exitCommand() { close(); }

void MainWindow::showHelp() {
    messageBox(gbk("Tessaline帮助"),
               gbk("第一步：选择波特率。\r\n\r\n第二步：打开升级文件。\r\n\r\n第三步：用USB连接线将机器和电脑连接，"
                   "打开机器电源。\r\n\r\n第四步：机器进入待机状态后，点击升级按钮。"),
               BoxIcon::None, false);
}

void MainWindow::openDownloadPage() { openUrl(QUrl(QStringLiteral("http://www.example.com/policy.asp"))); }

void MainWindow::openUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

void MainWindow::showAbout() {
    AboutWindow about(this, windowTitle(), units_);
    connect(&about, &AboutWindow::systemInfoRequested, this, [this] { showSystemInfo(); });
    runModal(about);
}

void MainWindow::runModal(QDialog& dialog) { dialog.exec(); }

// The system-information program: the first known one found on the path.
// Without one the operator gets the two error boxes, in this order.
void MainWindow::showSystemInfo() {
    QString program = findSystemInfoProgram();
    if (program.isEmpty()) messageBox(gbk("错误"), gbk("错误 - 文件找不到..."), BoxIcon::Error, false);
    if (!program.isEmpty()) startProgram(program);
    if (program.isEmpty()) messageBox(gbk("错误"), gbk("错误 - 注册表项找不到..."), BoxIcon::Error, false);
}

QString MainWindow::findSystemInfoProgram() const {
    for (const char* name : {"hardinfo", "gnome-system-monitor", "plasma-systemmonitor", "ksysguard", "lshw-gtk"}) {
        QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty()) return path;
    }
    return {};
}

bool MainWindow::startProgram(const QString& program) { return QProcess::startDetached(program, {}); }

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    saveSettingsAndExit();
}

// Every way of closing ends here, also in the middle of a run: the changed
// settings are saved, the link is closed and the process ends.
void MainWindow::saveSettingsAndExit() {
    if (link_) {
        SettingsToSave values;
        values.baudText = selectedBaudText();
        values.filePath = fieldText(Field::FilePath);
        values.countText = fieldText(Field::Count);
        values.portName = link_->portName;
        saveSettings(settingsPath_, values);
        link_->closeTransport();
    }
    endProcess(0);
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

} // namespace mub
