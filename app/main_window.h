// The main window: the controls of the window template, the menu bar, the
// status bar with its clock, and the window side of the logic (Ui). It owns
// the shared state of the program: the link to the machine with its
// transport, the one upgrade file and the settings path.
//
// Everything runs on the GUI thread. Long operations (connecting, upgrading,
// model checking) run inside the handler that started them and keep the
// window alive through pumpDelay, so Stop, the F8 key, the clock and the
// close request are handled nested inside them.
#pragma once

#include "app/dialog_units.h"
#include "platform/ui.h"
#include "upgrade_file/upgrade_file.h"

#include <QMainWindow>
#include <QString>
#include <QTimer>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QDialog;
class QEventLoop;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QUrl;

namespace mub {

class BridgeBinding;
class GlobalHotKey;
class MachineLink;
class SerialChannel;
class SingleInstance;
class UpgradeFileOpener;

class MainWindow : public QMainWindow, public Ui {
    Q_OBJECT
public:
    // `programDir`: where cfg.ini and the bridge library are looked for;
    // empty means the folder of the program file.
    explicit MainWindow(QString programDir = {});
    ~MainWindow() override;

    // Start-up before the window is shown. False when the program ends here
    // (another copy runs, or the bridge library is missing in USB mode);
    // the exit code is then exitCode().
    bool start();
    int exitCode() const { return exitCode_; }

    // --- Ui ---
    void setMessage(const std::string& text) override;
    void appendMessage(const std::string& text) override;
    std::string fieldText(Field field) const override;
    void setFieldText(Field field, const std::string& text) override;
    void setEnabled(Control control, bool enabled) override;
    bool isEnabled(Control control) const override;
    std::string caption(Control control) const override;
    void setCaption(Control control, const std::string& text) override;
    void focus(Control control) override;
    std::string selectedBaudText() const override;
    int selectedBaudIndex() const override;
    void setProgress(int position) override;
    int progress() const override;
    void showProgress(bool visible) override;
    void setPercentText(const std::string& text) override;
    void showPercent(bool visible) override;
    void setStatusText(int part, const std::string& text) override;
    void startClock() override;
    void stopClock() override;
    void armTimeout(int milliseconds) override;
    bool timeoutElapsed() const override;
    void clearTimeoutElapsed() override;
    std::string title() const override;
    void errorBox(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    void tone(int hertz, int milliseconds) override;
    std::uint32_t tickCount() const override;
    void pumpDelay(std::int32_t microseconds) override;
    void pumpWait(std::int32_t microseconds) override;
    void wake() override;
    bool chooseOpenFile(std::string& path) override;

    // --- commands ---
    void toggleUpgrade();
    void onUpgradeHotKey();
    void detectModelCommand();
    void openUpgradeFileCommand();
    void clearCount();
    void exitCommand();
    void showHelp();
    void openDownloadPage();
    void showAbout();
    void showSystemInfo();
    void saveSettingsAndExit();

    // --- for tests and the screenshot mode ---
    QWidget* control(int id) const;
    QAction* menuAction(int id) const;
    std::string paneText() const { return paneText_; }
    std::string statusText(int part) const;
    bool clockRunning() const { return clockTimer_.isActive(); }
    MachineLink* link() const { return link_.get(); }
    UpgradeFile& upgradeFile() { return file_; }
    GlobalHotKey& hotKey() const { return *hotKey_; }
    const std::string& settingsPath() const { return settingsPath_; }
    QString openDialogFolder() const { return openDialogFolder_; }
    const DialogUnits& units() const { return units_; }
    QString programDir() const { return programDir_; }
    // The next open dialog is answered with `path` instead of being shown
    // (screenshot mode).
    void answerOpenDialogWith(const QString& path) { scriptedOpenPath_ = path; }

protected:
    enum class BoxIcon { None, Error, Warning };
    // A message box without owner; true for OK or Yes.
    virtual bool messageBox(const std::string& gbkTitle, const std::string& gbkText, BoxIcon icon, bool yesNo);
    virtual bool runFileDialog(QString& path);
    virtual void runModal(QDialog& dialog);
    virtual bool startProgram(const QString& program);
    virtual void openUrl(const QUrl& url);
    virtual QString findSystemInfoProgram() const;
    // Ends the process after the settings were saved; never returns in the
    // program.
    virtual void endProcess(int code);

    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenuBar();
    void updateClock();
    void finishUpgrade();
    void bringToFront();
    QWidget* widgetFor(Control control) const;
    QLineEdit* lineFor(Field field) const;
    void quitWaits();
    // The pause behind pumpDelay (wakeable false) and pumpWait (true).
    void pause(std::int32_t microseconds, bool wakeable);

    QString programDir_;
    QFont font_;
    DialogUnits units_;
    QWidget* client_ = nullptr;
    std::map<int, QWidget*> controls_;
    std::map<int, QAction*> actions_;
    QPushButton* upgradeButton_ = nullptr;
    QPushButton* detectModelButton_ = nullptr;
    QPushButton* openFileButton_ = nullptr;
    QPushButton* clearCountButton_ = nullptr;
    QComboBox* baudRateList_ = nullptr;
    QPlainTextEdit* messagePane_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    QLabel* statusParts_[2] = {nullptr, nullptr};
    QProgressBar* progressBar_ = nullptr;
    QLabel* percentLabel_ = nullptr;

    // GBK originals of what the fields, captions and pane show, so that
    // bytes that are not valid GBK survive a round trip through the window.
    std::map<Field, std::string> fieldTexts_;
    std::map<Control, std::string> captions_;
    std::string paneText_;
    std::string statusTexts_[2];
    std::string title_;

    QTimer clockTimer_;
    QTimer timeoutTimer_;
    std::atomic<bool> timeoutElapsed_{false};

    // Waits in progress (nested inside each other), and the wake flag.
    std::vector<QEventLoop*> waitLoops_;
    int waitDepth_ = 0;
    std::atomic<bool> woken_{false};

    UpgradeFile file_;
    std::string settingsPath_;
    QString openDialogFolder_;
    std::unique_ptr<SingleInstance> singleInstance_;
    std::unique_ptr<GlobalHotKey> hotKey_;
    std::unique_ptr<SerialChannel> serial_;
    std::unique_ptr<BridgeBinding> bridge_;
    std::unique_ptr<MachineLink> link_;
    std::unique_ptr<UpgradeFileOpener> opener_;
    QString scriptedOpenPath_;
    int exitCode_ = 0;
    bool started_ = false;
};

} // namespace mub
