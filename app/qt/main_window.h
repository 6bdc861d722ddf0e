// The Qt main window: a view over the window logic. It builds the controls
// of the control table and the menu bar of the menu table, the status bar
// with its clock, and implements the window side (Ui) and the desktop
// services (Desktop) with Qt and X11. Button clicks, menu items, F8, a later
// copy's request and the close request are forwarded to WindowLogic, which
// decides what happens.
//
// Everything runs on the GUI thread. Long operations keep the window alive
// through pumpDelay, so Stop, F8, the clock and the close request are
// handled nested inside them.
#pragma once

#include "app/desktop.h"
#include "app/qt/dialog_units.h"
#include "app/window_logic.h"
#include "platform/ui.h"

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
class QAbstractEventDispatcher;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace mub {

class GlobalHotKey;
class SingleInstance;

class MainWindow : public QMainWindow, public Ui, public Desktop {
    Q_OBJECT
public:
    // `programDir`: where cfg.ini and the bridge library are looked for;
    // empty means the folder of the program file.
    explicit MainWindow(QString programDir = {});
    ~MainWindow() override;

    // Start-up (WindowLogic::start), then the window's fixed size and place.
    // False when the program ends here; the exit code is then exitCode().
    bool start();
    int exitCode() const { return logic_.exitCode(); }
    WindowLogic& logic() { return logic_; }

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
    void pumpWaitAfter(std::int32_t pauseMicroseconds, std::int32_t microseconds) override;
    void wake() override;
    bool chooseOpenFile(std::string& path) override;

    // --- Desktop ---
    void setTitle(const std::string& title) override;
    void selectBaudRate(int index) override;
    void bringToFront() override;
    void raiseWindow() override;
    bool claimSingleInstance(const std::string& name) override;
    bool registerUpgradeHotKey() override;
    void setOpenDialogFolder(const std::string& folder) override;
    bool messageBox(const std::string& title, const std::string& text, BoxIcon icon, bool yesNo) override;
    void showAbout(const std::string& title) override;
    std::string systemInfoProgram() override;
    void startProgram(const std::string& program) override;
    void openAddress(const std::string& address) override;
    void endProcess(int code) override;
    void runOnWindowThread(std::function<void()> task) override;

    // --- for tests ---
    QWidget* control(int id) const;
    QAction* menuAction(int id) const;
    std::string paneText() const { return paneText_; }
    std::string statusText(int part) const;
    bool clockRunning() const { return clockTimer_.isActive(); }
    GlobalHotKey& hotKey() const { return *hotKey_; }
    QString openDialogFolder() const { return openDialogFolder_; }
    const DialogUnits& units() const { return units_; }

protected:
    virtual bool runFileDialog(QString& path);
    virtual void runModal(QDialog& dialog);

    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenuBar();
    QWidget* widgetFor(Control control) const;
    QLineEdit* lineFor(Field field) const;
    // The pause behind pumpDelay (wakeable false), pumpWait (true) and
    // pumpWaitAfter (true, with the pause as its floor).
    class Pauses;
    void pause(std::int64_t microseconds, bool wakeable, std::int32_t floorMicroseconds = 0);

    QString programDir_;
    QFont font_;
    DialogUnits units_;
    QWidget* client_ = nullptr;
    std::map<int, QWidget*> controls_;
    std::map<int, QAction*> actions_;
    QComboBox* baudRateList_ = nullptr;
    QPlainTextEdit* messagePane_ = nullptr;
    QLabel* statusParts_[2] = {nullptr, nullptr};
    QProgressBar* progressBar_ = nullptr;
    QLabel* percentLabel_ = nullptr;

    // GBK originals of what the fields, captions and pane show, so that
    // bytes that are not valid GBK survive a round trip through the window.
    std::map<Field, std::string> fieldTexts_;
    std::map<Control, std::string> captions_;
    std::string paneText_;
    std::string percentText_;
    std::string statusTexts_[2];
    std::string title_;

    QTimer clockTimer_;
    QTimer timeoutTimer_;
    std::atomic<bool> timeoutElapsed_{false};

    // The pauses' deadline timer, the GUI thread's event dispatcher (woken
    // by wake()), the depth of nested pauses and the wake flag.
    QTimer pauseTimer_;
    QAbstractEventDispatcher* dispatcher_ = nullptr;
    int waitDepth_ = 0;
    std::atomic<bool> woken_{false};

    QString openDialogFolder_;
    std::unique_ptr<SingleInstance> singleInstance_;
    std::unique_ptr<GlobalHotKey> hotKey_;
    // Last: it goes first, while the window it reports to still stands.
    WindowLogic logic_;
};

} // namespace mub
