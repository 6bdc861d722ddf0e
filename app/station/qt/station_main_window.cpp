#include "app/station/qt/station_main_window.h"

#include "app/qt/global_hot_key.h"
#include "app/qt/window_icon.h"
#include "app/station/qt/station_tile_widget.h"
#include "platform/gbk_text.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace mub {
namespace {

// How long closing waits for the ports' loops to end (each logs its machine).
constexpr int closeWaitMs = 10000;

} // namespace

StationMainWindow::StationMainWindow(StationWindow& station) : station_(station) {
    setWindowTitle(QString::fromUtf8("生产工位 - 升级工具"));
    setWindowIcon(programIcon());

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    auto* top = new QHBoxLayout();
    fileLine_ = new QLabel(central);
    fileLine_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(fileLine_, 1);
    auto* open = new QPushButton(QString::fromUtf8("打开文件"), central);
    toggle_ = new QPushButton(central);
    auto* reset = new QPushButton(QString::fromUtf8("计数清零"), central);
    lock_ = new QPushButton(central);
    for (QPushButton* button : {open, toggle_, reset, lock_}) top->addWidget(button);
    column->addLayout(top);

    auto* scroll = new QScrollArea(central);
    scroll->setWidgetResizable(true);
    auto* tileArea = new QWidget(scroll);
    grid_ = new QGridLayout(tileArea);
    grid_->setSpacing(4);
    scroll->setWidget(tileArea);
    column->addWidget(scroll, 1);

    QFont totalsFont = font();
    totalsFont.setPointSizeF(font().pointSizeF() * 1.5);
    totalsFont.setBold(true);
    for (int i = 0; i < 2; ++i) {
        auto* label = new QLabel(central);
        label->setFont(totalsFont);
        column->addWidget(label);
        totals_.push_back(label);
    }
    setCentralWidget(central);

    notice_ = new QLabel(this);
    mode_ = new QLabel(this);
    statusBar()->addWidget(notice_, 1);
    statusBar()->addPermanentWidget(mode_);

    connect(open, &QPushButton::clicked, this, [this] { openFile(); });
    connect(toggle_, &QPushButton::clicked, this, [this] {
        station_.toggleAll();
        refresh();
    });
    connect(reset, &QPushButton::clicked, this, [this] {
        station_.resetTotals();
        refresh();
    });
    connect(lock_, &QPushButton::clicked, this, [this] { lockOrUnlock(); });

    // F8 for the whole desktop where the station can take it, else while
    // its window has the focus; the status bar says which.
    hotKey_ = new GlobalHotKey(this);
    const bool global = hotKey_->registerF8();
    if (global) {
        qApp->installNativeEventFilter(hotKey_);
        connect(hotKey_, &GlobalHotKey::pressed, this, [this] {
            station_.toggleAll();
            refresh();
        });
    } else {
        auto* f8 = new QShortcut(QKeySequence(Qt::Key_F8), this);
        f8->setAutoRepeat(false);
        connect(f8, &QShortcut::activated, this, [this] {
            station_.toggleAll();
            refresh();
        });
    }
    mode_->setProperty("f8", QString::fromUtf8(global ? "F8：全局热键" : "F8：仅在本窗口有焦点时"));

    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, [this] {
        if (!station_.tick() && !closing_) {
            exitCode_ = station_.exitCode();
            close();
            return;
        }
        refresh();
    });
    timer_->start(200);
    if (const char* file = std::getenv("MUB_UI_LATENCY")) {
        latencyFile_ = file;
        auto* probe = new QTimer(this);
        probe->setTimerType(Qt::PreciseTimer);
        auto* since = new QElapsedTimer();
        since->start();
        connect(probe, &QTimer::timeout, this, [this, since] {
            lateMs_.push_back(static_cast<int>(std::max<qint64>(0, since->restart() - 10)));
        });
        connect(probe, &QObject::destroyed, [since] { delete since; });
        probe->start(10);
    }
    resize(1024, 720);
    refresh();
}

StationMainWindow::~StationMainWindow() {
    if (hotKey_) qApp->removeNativeEventFilter(hotKey_);
    if (latencyFile_.empty() || lateMs_.empty()) return;
    std::sort(lateMs_.begin(), lateMs_.end());
    const int p99 = lateMs_[std::min(lateMs_.size() - 1, lateMs_.size() * 99 / 100)];
    if (std::FILE* out = std::fopen(latencyFile_.c_str(), "w")) {
        std::fprintf(out, "ui-lateness samples=%zu p99_ms=%d max_ms=%d\n", lateMs_.size(), p99, lateMs_.back());
        std::fclose(out);
    }
}

void StationMainWindow::layTiles(std::size_t count) {
    while (tiles_.size() < count) {
        const std::size_t index = tiles_.size();
        tiles_.push_back(new StationTileWidget(
            [this, index] {
                station_.togglePort(index);
                refresh();
            },
            grid_->parentWidget()));
    }
    // Wider than high: about 1.5 times as many columns as rows.
    const int columns = std::max(1, static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count) * 1.5))));
    for (std::size_t i = 0; i < tiles_.size(); ++i) {
        grid_->removeWidget(tiles_[i]);
        grid_->addWidget(tiles_[i], static_cast<int>(i) / columns, static_cast<int>(i) % columns);
    }
}

void StationMainWindow::refresh() {
    const std::vector<StationTile> tiles = station_.tiles();
    if (tiles.size() != tiles_.size()) layTiles(tiles.size());
    for (std::size_t i = 0; i < tiles.size(); ++i) tiles_[i]->show(tiles[i]);
    const std::vector<std::string> totals = station_.totalsLines();
    for (std::size_t i = 0; i < totals_.size() && i < totals.size(); ++i) totals_[i]->setText(shownText(totals[i]));
    fileLine_->setText(shownText(station_.fileLine()));
    toggle_->setText(shownText(station_.toggleCaption()));
    lock_->setText(QString::fromUtf8(station_.locked() ? "解锁" : unlockedByPassword_ ? "重新锁定" : "锁定"));
    const std::vector<std::string> notices = station_.takeNotices();
    if (!notices.empty()) notice_->setText(shownText(notices.back()));
    QString mode = mode_->property("f8").toString();
    if (station_.locked()) mode += QString::fromUtf8("　生产模式");
    mode_->setText(mode);
}

void StationMainWindow::showError(const std::string& gbkText) {
    QMessageBox::warning(this, windowTitle(), shownText(gbkText));
}

void StationMainWindow::openFile() {
    std::string error;
    if (!station_.mayOpen(error)) {
        showError(error);
        return;
    }
    const QString path = QFileDialog::getOpenFileName(this, QString::fromUtf8("打开升级文件"), {},
                                                      QString::fromUtf8("升级文件 (*.mub)"));
    if (path.isEmpty()) return;
    if (!station_.openFile(path.toStdString(), error)) showError(error);
    refresh();
}

void StationMainWindow::lockOrUnlock() {
    bool ok = false;
    std::string error;
    if (station_.locked()) {
        const QString password = QInputDialog::getText(this, QString::fromUtf8("解锁"), QString::fromUtf8("密码："),
                                                       QLineEdit::Password, {}, &ok);
        if (!ok) return;
        if (!station_.unlockStation(password.toStdString())) {
            showError(gbk("密码错误。"));
            return;
        }
        unlockedByPassword_ = true;
    } else if (unlockedByPassword_) {
        if (!station_.lockAgain(error)) showError(error);
        else unlockedByPassword_ = false;
    } else {
        const QString first = QInputDialog::getText(this, QString::fromUtf8("锁定"),
                                                    QString::fromUtf8("锁定后操作员只能开始、停止和清零计数。\n设置密码："),
                                                    QLineEdit::Password, {}, &ok);
        if (!ok) return;
        const QString second = QInputDialog::getText(this, QString::fromUtf8("锁定"), QString::fromUtf8("再次输入密码："),
                                                     QLineEdit::Password, {}, &ok);
        if (!ok) return;
        if (first != second) {
            showError(gbk("两次输入的密码不同。"));
            return;
        }
        if (!station_.lockStation(first.toStdString(), error)) showError(error);
    }
    refresh();
}

void StationMainWindow::closeEvent(QCloseEvent* event) {
    // Every port stops and logs its machine before the window goes.
    closing_ = true;
    station_.stopAll();
    QElapsedTimer waited;
    waited.start();
    while (!station_.idle() && waited.elapsed() < closeWaitMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    event->accept();
}

} // namespace mub
