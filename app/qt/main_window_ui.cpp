// The window side of the logic: fields, buttons, progress, status bar,
// timers, boxes and the pauses that keep the window alive.
#include "app/qt/main_window.h"

#include "app/clock_text.h"
#include "app/main_layout.h"
#include "platform/event_pause.h"
#include "platform/gbk_text.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <limits>

namespace mub {

namespace {

// The pane and the boxes show line ends as the toolkit expects them.
QString displayText(const std::string& gbkText) {
    QString shown = QString::fromStdString(utf8(gbkText));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

} // namespace

QWidget* MainWindow::widgetFor(Control control) const { return controls_.at(controlIdOf(control)); }

QLineEdit* MainWindow::lineFor(Field field) const { return static_cast<QLineEdit*>(controls_.at(controlIdOf(field))); }

void MainWindow::setMessage(const std::string& text) {
    paneText_ = text;
    messagePane_->setPlainText(displayText(text));
}

void MainWindow::appendMessage(const std::string& text) {
    paneText_ += text;
    messagePane_->moveCursor(QTextCursor::End);
    messagePane_->insertPlainText(displayText(text));
    messagePane_->moveCursor(QTextCursor::End);
    messagePane_->verticalScrollBar()->setValue(messagePane_->verticalScrollBar()->maximum());
}

std::string MainWindow::fieldText(Field field) const {
    auto it = fieldTexts_.find(field);
    return it == fieldTexts_.end() ? std::string() : it->second;
}

void MainWindow::setFieldText(Field field, const std::string& text) {
    fieldTexts_[field] = text;
    QLineEdit* line = lineFor(field);
    line->setText(QString::fromStdString(utf8(text)));
    line->setCursorPosition(static_cast<int>(line->text().size()));
}

void MainWindow::setEnabled(Control control, bool enabled) { widgetFor(control)->setEnabled(enabled); }

bool MainWindow::isEnabled(Control control) const { return widgetFor(control)->isEnabled(); }

std::string MainWindow::caption(Control control) const {
    auto it = captions_.find(control);
    if (it != captions_.end()) return it->second;
    if (auto* button = qobject_cast<QPushButton*>(widgetFor(control))) return gbk(button->text().toStdString());
    return {};
}

void MainWindow::setCaption(Control control, const std::string& text) {
    auto* button = qobject_cast<QPushButton*>(widgetFor(control));
    if (!button) return;
    captions_[control] = text;
    button->setText(QString::fromStdString(utf8(text)));
}

void MainWindow::focus(Control control) { widgetFor(control)->setFocus(Qt::OtherFocusReason); }

std::string MainWindow::selectedBaudText() const {
    if (baudRateList_->currentIndex() < 0) return {};
    return gbk(baudRateList_->currentText().toStdString());
}

int MainWindow::selectedBaudIndex() const { return baudRateList_->currentIndex(); }

void MainWindow::setProgress(int position) { progressBar_->setValue(position); }

int MainWindow::progress() const { return progressBar_->value(); }

void MainWindow::showProgress(bool visible) { progressBar_->setVisible(visible); }

// Set before every block, mostly to the same text: converted and set only
// when it changes.
void MainWindow::setPercentText(const std::string& text) {
    if (text == percentText_) return;
    percentText_ = text;
    percentLabel_->setText(QString::fromStdString(utf8(text)));
}

void MainWindow::showPercent(bool visible) { percentLabel_->setVisible(visible); }

void MainWindow::setStatusText(int part, const std::string& text) {
    if (part < 0 || part > 1) return;
    statusTexts_[part] = text;
    statusParts_[part]->setText(QString::fromStdString(utf8(text)));
}

std::string MainWindow::statusText(int part) const { return part == 0 || part == 1 ? statusTexts_[part] : std::string(); }

void MainWindow::startClock() {
    if (clockTimer_.isActive()) return;
    // The first tick comes at once, the next ones every second.
    setStatusText(1, clockTextNow());
    clockTimer_.start(1000);
}

void MainWindow::stopClock() { clockTimer_.stop(); }

void MainWindow::armTimeout(int milliseconds) {
    timeoutElapsed_ = false;
    timeoutTimer_.start(milliseconds < 0 ? 0 : milliseconds);
}

bool MainWindow::timeoutElapsed() const { return timeoutElapsed_.load(); }

void MainWindow::clearTimeoutElapsed() { timeoutElapsed_ = false; }

std::string MainWindow::title() const { return title_; }

void MainWindow::errorBox(const std::string& text) { messageBox(title_, text, BoxIcon::Error, false); }

bool MainWindow::askYesNo(const std::string& text) { return messageBox(title_, text, BoxIcon::Warning, true); }

bool MainWindow::messageBox(const std::string& gbkTitle, const std::string& gbkText, BoxIcon icon, bool yesNo) {
    QMessageBox::Icon shownIcon = icon == BoxIcon::Error     ? QMessageBox::Critical
                                  : icon == BoxIcon::Warning ? QMessageBox::Warning
                                                             : QMessageBox::NoIcon;
    // No owner window and not modal: the box stands on its own and the main
    // window stays usable while it waits (Stop, 清零, the menu, closing), as
    // with the waits of a run. The box's loop counts as a wait, so a close
    // handled inside it ends the process instead of unwinding the caller.
    QMessageBox box(shownIcon, displayText(gbkTitle), displayText(gbkText),
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, nullptr);
    box.setFont(font_);
    box.setWindowModality(Qt::NonModal);
    QEventLoop loop;
    connect(&box, &QDialog::finished, &loop, &QEventLoop::quit);
    ++waitDepth_;
    box.show();
    loop.exec();
    --waitDepth_;
    QAbstractButton* clicked = box.clickedButton();
    return yesNo ? clicked != nullptr && box.standardButton(clicked) == QMessageBox::Yes : true;
}

void MainWindow::tone(int hertz, int milliseconds) { toneWhileHandlingEvents(*this, hertz, milliseconds); }

std::uint32_t MainWindow::tickCount() const {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

bool MainWindow::chooseOpenFile(std::string& path) {
    QString chosen;
    if (!runFileDialog(chosen) || chosen.isEmpty()) return false;
    path = gbk(chosen.toStdString());
    return true;
}

bool MainWindow::runFileDialog(QString& path) {
    QFileDialog dialog(this, QStringLiteral("打开文件"), openDialogFolder_, QStringLiteral("升级文件(*.mub)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    path = dialog.selectedFiles().constFirst();
    return true;
}

// Pauses by the front ends' common rule (platform/event_pause.h): events
// are the Qt event queue's; a wait of a millisecond or more lets the event
// dispatcher sleep until an event comes: the window's own, the precise
// pause timer's or the wake (the dispatcher's wake-up, which makes it
// return at once, also when it came before the sleep began).
class MainWindow::Pauses : public PauseHost {
public:
    explicit Pauses(MainWindow& window) : window_(window) {}
    void handleEvents() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
    void waitForEvents(Clock::time_point deadline, bool) override {
        // Whole milliseconds, cut below what is left: the rule watches the
        // rest on the clock, so the pause does not end late by rounding.
        const auto left = std::chrono::floor<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return;
        // One timer for every pause: a pause nested in an event handled here
        // restarts it, and this wait returns once that handler is through.
        window_.pauseTimer_.start(static_cast<int>(std::min<long long>(left, std::numeric_limits<int>::max())));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    bool takeWake() override { return window_.woken_.exchange(false); }
    // Events are per thread: the window's thread, or an F8 run's own.
    Clock::time_point* eventsHandledAt() override {
        thread_local Clock::time_point handledAt{};
        return &handledAt;
    }

private:
    MainWindow& window_;
};

void MainWindow::pumpDelay(std::int32_t microseconds) { pause(microseconds, false); }

// The same pause, ended early by wake(); a wake that came before it began
// ends it at once.
void MainWindow::pumpWait(std::int32_t microseconds) { pause(microseconds, true); }

// pumpDelay and then pumpWait, as one pause that sleeps through the first.
void MainWindow::pumpWaitAfter(std::int32_t pauseMicroseconds, std::int32_t microseconds) {
    pause(std::int64_t{pauseMicroseconds} + microseconds, true, pauseMicroseconds);
}

void MainWindow::pause(std::int64_t microseconds, bool wakeable, std::int32_t floorMicroseconds) {
    Pauses pauses(*this);
    ++waitDepth_;
    pauseHandlingEvents(pauses, std::chrono::microseconds(microseconds), wakeable,
                        std::chrono::microseconds(floorMicroseconds));
    --waitDepth_;
}

void MainWindow::wake() {
    woken_ = true;
    // May come from the serial listener thread; the dispatcher's wake-up is
    // safe from any thread and costs no allocation.
    dispatcher_->wakeUp();
}

} // namespace mub
