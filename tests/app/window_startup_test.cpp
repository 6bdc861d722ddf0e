// The Qt view at start-up: controls and menus built from the tables, the
// start-up state reaching the widgets, the single instance, the clock, the
// pauses.
#include "tests/app/window_test_support.h"

#include "app/main_layout.h"
#include "platform/gbk_text.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <QElapsedTimer>
#include <QThread>
#include <QMenuBar>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>
#include <memory>

using mub::gbk;
using mub::utf8;
using namespace mub::test;

class WindowStartupTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> folder_;
    std::unique_ptr<TestWindow> window_;

    TestWindow& startWindow() {
        window_ = startedWindow(*folder_);
        return *window_;
    }

    QString textOf(int id) const {
        QWidget* widget = window_->control(id);
        if (auto* line = qobject_cast<QLineEdit*>(widget)) return line->text();
        if (auto* button = qobject_cast<QPushButton*>(widget)) return button->text();
        if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
        return {};
    }

private slots:
    void init() { folder_ = std::make_unique<ProgramFolder>(); }
    void cleanup() {
        window_.reset();
        folder_.reset();
    }

    void startupStateReachesTheWidgets() {
        TestWindow& w = startWindow();
        w.show();
        QCOMPARE(w.windowTitle(), QStringLiteral("Korvan升级工具v1.0--生产专用"));
        QCOMPARE(w.title(), gbk("Korvan升级工具v1.0--生产专用"));
        // The shared icon file is read, with its 16-colour 32-pixel image.
        QVERIFY(w.windowIcon().availableSizes().contains(QSize(32, 32)));
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("statusPart0"))->text(), QStringLiteral("Marrowind"));
        QCOMPARE(static_cast<QComboBox*>(w.control(mub::IdBaudRateList))->currentText(), QStringLiteral("57600"));
        QCOMPARE(textOf(mub::IdCountField), QStringLiteral("0"));
        QCOMPARE(textOf(mub::IdUpgradeButton), QStringLiteral("升级(F8)"));
        QVERIFY(!w.control(mub::IdUpgradeButton)->isEnabled());
        QVERIFY(w.control(mub::IdDetectModelButton)->isEnabled());
        QVERIFY(!w.control(mub::IdProgressBar)->isVisible());
        QVERIFY(!w.control(mub::IdPercentLabel)->isVisible());
        QCOMPARE(textOf(mub::IdPercentLabel), QStringLiteral("100%"));
        QVERIFY(w.boxes.empty());
        QCOMPARE(w.openDialogFolder(), folder_->path());
    }

    void controlsSitWhereTheTemplatePutsThem() {
        TestWindow& w = startWindow();
        w.show();
        const mub::DialogUnits& du = w.units();
        QVERIFY(du.baseWidth() > 2 && du.baseHeight() > 8);
        QWidget* client = w.centralWidget();
        QCOMPARE(client->size(), QSize(du.x(mub::mainWindowWidthDu), du.y(mub::mainWindowHeightDu)));

        for (const mub::ControlTemplate& control : mub::mainWindowControls()) {
            QWidget* widget = w.control(control.id);
            QVERIFY2(widget, qPrintable(QString::number(control.id)));
            QCOMPARE(widget->property("ctrlId").toInt(), control.id);
            if (control.kind == mub::ControlKind::StatusBar) {
                QCOMPARE(widget->geometry().bottom(), client->height() - 1);
                QCOMPARE(widget->width(), client->width());
                continue;
            }
            QCOMPARE(widget->geometry(), du.rect(control.x, control.y, control.w, control.h));
            bool hiddenByStartup = control.id == mub::IdProgressBar || control.id == mub::IdPercentLabel;
            QCOMPARE(widget->isVisible(), !control.hidden && !hiddenByStartup);
        }
        // The progress display lies over the status bar.
        QVERIFY(w.control(mub::IdProgressBar)->geometry().intersects(w.control(mub::IdStatusBar)->geometry()));
        QVERIFY(client->children().indexOf(w.control(mub::IdProgressBar)) >
                client->children().indexOf(w.control(mub::IdStatusBar)));

        // Fixed size, no maximize box.
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    }

    void tabOrderFollowsTheTemplate() {
        TestWindow& w = startWindow();
        w.show();
        const int expected[] = {mub::IdOpenFileButton, mub::IdUpgradeButton,   mub::IdDetectModelButton,
                                mub::IdClearCountButton, mub::IdBaudRateList, mub::IdCountField};
        for (std::size_t i = 0; i + 1 < std::size(expected); ++i)
            QCOMPARE(w.control(expected[i])->nextInFocusChain() == w.control(expected[i + 1]) ||
                         w.control(expected[i])->nextInFocusChain()->parentWidget() == w.control(expected[i + 1]),
                     true);
        QCOMPARE(w.control(mub::IdMessagePane)->focusPolicy(), Qt::ClickFocus);
    }

    void baudListShowsAllEightRates() {
        TestWindow& w = startWindow();
        auto* list = static_cast<QComboBox*>(w.control(mub::IdBaudRateList));
        QStringList rates;
        for (int i = 0; i < list->count(); ++i) rates << list->itemText(i);
        QCOMPARE(rates, QStringList({"4800", "9600", "19200", "38400", "51200", "57600", "102400", "115200"}));
        QCOMPARE(list->itemData(7).toInt(), 115200);
        QVERIFY(list->maxVisibleItems() >= 8);
    }

    void menuBarCarriesItsItemsWithHintsButNoShortcuts() {
        TestWindow& w = startWindow();
        w.show();
        struct Item {
            int id;
            const char* text;
        };
        const Item items[] = {{mub::MenuOpen, "打开(&O)\tCtrl+O"}, {mub::MenuExit, "退出(&X)\tAlt+X"},
                              {mub::MenuLanguage, "语言(&L)"},        {mub::MenuHelp, "操作说明(&F1)\tF1"},
                              {mub::MenuDownload, "下载(&D)"},        {mub::MenuAbout, "关于(&A)"}};
        for (const Item& item : items) {
            QAction* action = w.menuAction(item.id);
            QVERIFY(action);
            QCOMPARE(action->text(), QString::fromUtf8(item.text));
            QVERIFY(action->shortcut().isEmpty());
            QCOMPARE(action->property("ctrlId").toInt(), item.id);
        }
        QStringList menus;
        for (QAction* action : w.menuBar()->actions()) menus << action->text();
        QCOMPARE(menus, QStringList({"文件(&F)", "选项(&O)", "帮助(&H)"}));

        // The hinted keys do nothing by themselves, and 语言 does nothing.
        QTest::keyClick(&w, Qt::Key_F1);
        QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
        QTest::keyClick(&w, Qt::Key_X, Qt::AltModifier);
        w.menuAction(mub::MenuLanguage)->trigger();
        QVERIFY(w.boxes.empty());
        QVERIFY(!w.endedWith.has_value());
    }

    void storedFolderIsReadAsGbk() {
        // "谋" is C4 B1 in GBK, bytes that are also valid UTF-8 (for "ı").
        folder_->writeSettings("[Port]\r\nPort=COM1\r\nBaudRate=57600\r\n[History]\r\nFilePath=" +
                               gbk("/data/谋/new.mub") + "\r\n[ImportHistory]\r\nCount=0\r\n");
        TestWindow& w = startWindow();
        QCOMPARE(w.openDialogFolder(), QStringLiteral("/data/谋"));
    }

    void usbModeWithoutBridgeLibraryEndsAfterTheBox() {
        folder_->writeSettings("[Port]\r\nPort=USB\r\nBaudRate=57600\r\n[ImportHistory]\r\nCount=3\r\n");
        window_ = std::make_unique<TestWindow>(folder_->path());
        // A second copy started while the box is up ends at once and does
        // not bring up the window that is never to be shown.
        int secondExit = -1;
        window_->onBox = [&](const ShownBox&) {
            QProcess second;
            second.setProgram(qEnvironmentVariable("MUB_BIN_DIR") + QStringLiteral("/upgrader"));
            second.start();
            if (!second.waitForStarted(5000)) return;
            waitUntil([&] { return second.state() == QProcess::NotRunning; }, 15000);
            if (second.exitStatus() == QProcess::NormalExit) secondExit = second.exitCode();
            waitUntil([&] { return window_->isVisible(); }, 300);
        };
        QVERIFY(!window_->start());
        QCOMPARE(secondExit, 0);
        QCOMPARE(window_->exitCode(), 0);
        QCOMPARE(window_->boxes.size(), std::size_t{1});
        QVERIFY(!window_->isVisible());
    }

    void dialogUnitsScaleAndRoundLikeTemplates() {
        mub::DialogUnits units(7, 14);
        QCOMPARE(units.x(4), 7);
        QCOMPARE(units.x(6), 11); // 10.5 rounds up
        QCOMPARE(units.x(3), 5);  // 5.25 rounds down
        QCOMPARE(units.y(8), 14);
        QCOMPARE(units.y(12), 21);
        QCOMPARE(units.rect(177, 103, 44, 12), QRect(310, 180, 77, 21));
        // Base units come from the font: wider and taller fonts give more pixels.
        QFont small = mub::windowFont();
        QFont large = small;
        large.setPointSize(small.pointSize() * 2);
        mub::DialogUnits smallUnits(small);
        mub::DialogUnits largeUnits(large);
        QVERIFY(largeUnits.baseWidth() > smallUnits.baseWidth());
        QVERIFY(largeUnits.baseHeight() > smallUnits.baseHeight());
    }

    void clockTicksAtOnceWhenStartedAndThenEverySecond() {
        TestWindow& w = startWindow();
        QVERIFY(w.clockRunning());
        QCOMPARE(w.statusText(1).size(), std::size_t{25});
        w.stopClock();
        w.setStatusText(1, "");
        QVERIFY(!w.clockRunning());
        w.startClock();
        QCOMPARE(w.statusText(1).size(), std::size_t{25}); // the first tick comes at once
        w.setStatusText(1, "");
        QVERIFY(waitUntil([&] { return !w.statusText(1).empty(); }, 1600));
        w.startClock(); // a running clock is left alone
        QVERIFY(w.clockRunning());
    }

    void secondCopyEndsAtOnceAndRaisesTheFirst() {
        TestWindow& w = startWindow();
        w.show();
        w.showMinimized();
        QVERIFY(waitUntil([&] { return w.isMinimized(); }, 2000));

        QProcess second;
        second.setProgram(qEnvironmentVariable("MUB_BIN_DIR") + QStringLiteral("/upgrader"));
        second.start();
        QVERIFY(second.waitForStarted(5000));
        QVERIFY(waitUntil([&] { return second.state() == QProcess::NotRunning; }, 15000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(second.readAllStandardOutput().isEmpty());
        QVERIFY(waitUntil([&] { return !w.isMinimized() && w.isVisible(); }, 5000));
    }

    void pumpDelayNeverEndsEarlyAndKeepsHandlingEvents() {
        TestWindow& w = startWindow();
        for (int micros : {10, 900, 1500, 20000}) {
            int handled = 0;
            QTimer ticker;
            QObject::connect(&ticker, &QTimer::timeout, [&] { ++handled; });
            ticker.start(0);
            // Events handled a moment ago are not looked for again at once.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            QElapsedTimer elapsed;
            elapsed.start();
            w.pumpDelay(micros);
            qint64 took = elapsed.nsecsElapsed() / 1000;
            QVERIFY2(took >= micros, qPrintable(QStringLiteral("%1 us took %2 us").arg(micros).arg(took)));
            QVERIFY(handled > 0);
        }
    }

    void wakeFromAnotherThreadEndsAWait() {
        TestWindow& w = startWindow();
        // A wake before the wait is not lost.
        w.wake();
        QElapsedTimer elapsed;
        elapsed.start();
        w.pumpWait(3'000'000);
        QVERIFY(elapsed.elapsed() < 2000);

        std::thread waker([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            w.wake();
        });
        elapsed.restart();
        w.pumpWait(3'000'000);
        waker.join();
        QVERIFY(elapsed.elapsed() >= 40);
        QVERIFY(elapsed.elapsed() < 2000);

        // Without a wake the wait lasts its time.
        elapsed.restart();
        w.pumpWait(30'000);
        QVERIFY(elapsed.nsecsElapsed() >= 30'000'000);
    }

    // What the records sender's thread posts (the lines that wait) runs on
    // the window's thread, also inside a run's pause.
    void aTaskFromAnotherThreadRunsOnTheWindowsThread() {
        TestWindow& w = startWindow();
        std::atomic<bool> onWindowThread{false};
        std::thread sender([&] {
            w.runOnWindowThread([&] {
                onWindowThread = QThread::currentThread() == w.thread();
                w.setStatusText(0, gbk("待发送记录 3 条"));
            });
        });
        sender.join();
        w.pumpDelay(50'000);
        QVERIFY(onWindowThread);
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("statusPart0"))->text(), QStringLiteral("待发送记录 3 条"));
    }

    // A logout (SIGHUP) or `kill` (SIGTERM) saves what a close request
    // saves: here the baud rate, stored as a prefix the list widens.
    void terminationSignalsSaveTheSettingsAsClosingDoes() {
        const QString program = folder_->path() + QStringLiteral("/upgrader");
        QVERIFY(QFile::copy(qEnvironmentVariable("MUB_BIN_DIR") + QStringLiteral("/upgrader"), program));
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        for (int signal : {SIGTERM, SIGHUP}) {
            folder_->writeSettings("[Port]\r\nPort=COM1\r\nBaudRate=1152\r\n[ImportHistory]\r\nCount=0\r\n");
            for (const QString& lock : QDir(runtime).entryList({QStringLiteral("*.lock")})) QFile::remove(runtime + QLatin1Char('/') + lock);
            QProcess copy;
            copy.setProgram(program);
            copy.start();
            QVERIFY(copy.waitForStarted(5000));
            // The single-instance lock is taken after the handlers are in place.
            QVERIFY(waitUntil([&] { return !QDir(runtime).entryList({QStringLiteral("*.lock")}).isEmpty(); }, 10000));
            ::kill(static_cast<pid_t>(copy.processId()), signal);
            QVERIFY(copy.waitForFinished(10000));
            QCOMPARE(copy.exitStatus(), QProcess::NormalExit);
            QCOMPARE(copy.exitCode(), 0);
            QCOMPARE(iniValue(folder_->readSettings(), "Port", "BaudRate"), std::optional<std::string>("115200"));
        }
    }
};

MUB_WINDOW_TEST_MAIN(WindowStartupTest)
#include "window_startup_test.moc"
