// Runs driven from the window against the simulated machine on a
// pseudo-terminal: Upgrade/Stop states while connecting and transferring,
// F8, the model check and its Stop, 清零 and closing during a run, and a
// full upgrade that counts.
#include "tests/app/window_test_support.h"

#include "app/global_hot_key.h"
#include "app/main_layout.h"
#include "link/machine_link.h"
#include "platform/gbk_text.h"

#include <QComboBox>
#include <QFile>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>

using mub::Control;
using mub::Field;
using mub::gbk;
using namespace mub::test;

namespace {

// One simulated machine for one test; stopped when the test ends.
class Simulator {
public:
    bool start(const QStringList& options) {
        process_.setProgram(qEnvironmentVariable("MUB_BIN_DIR") + QStringLiteral("/mubtool"));
        process_.setArguments(QStringList{QStringLiteral("simulate")} + options);
        process_.start();
        if (!process_.waitForStarted(5000)) return false;
        while (!process_.canReadLine())
            if (!process_.waitForReadyRead(5000)) return false;
        path_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
        return !path_.isEmpty();
    }
    ~Simulator() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(3000)) process_.kill();
            process_.waitForFinished(1000);
        }
    }
    QString path() const { return path_; }

private:
    QProcess process_;
    QString path_;
};

} // namespace

class WindowRunTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> folder_;
    std::unique_ptr<Simulator> machine_;
    std::unique_ptr<TestWindow> window_;

    // A window whose COM1 is the simulated machine, with a file loaded.
    TestWindow& startAgainst(const QStringList& machineOptions, const std::string& count = "0",
                             std::size_t imageBytes = 4096, const std::string& port = "COM1") {
        machine_ = std::make_unique<Simulator>();
        if (!machine_->start(machineOptions)) qFatal("the simulated machine did not start");
        folder_->writeSettings("[Port]\r\nPort=" + port + "\r\nBaudRate=57600\r\n[History]\r\nFilePath=\r\n"
                               "[ImportHistory]\r\nCount=" + count + "\r\n[Ports]\r\nCOM1=" +
                               machine_->path().toStdString() + "\r\n");
        window_ = std::make_unique<TestWindow>(folder_->path());
        if (!window_->start()) qFatal("start-up ended early");
        window_->show();
        window_->files.push_back(
            folder_->writeUpgradeFile(QStringLiteral("fw.mub"), "QM-3000", "HW-1.0", "1.10", imageBytes));
        window_->openUpgradeFileCommand();
        return *window_;
    }

    QPushButton* button(int id) const { return static_cast<QPushButton*>(window_->control(id)); }
    QProgressBar* bar() const { return static_cast<QProgressBar*>(window_->control(mub::IdProgressBar)); }

    // Runs `check` from the run's own waits once `when` holds (polled every 5 ms).
    void during(std::function<bool()> when, std::function<void()> check) {
        auto* poll = new QTimer(window_.get());
        QObject::connect(poll, &QTimer::timeout, poll, [poll, when = std::move(when), check = std::move(check)] {
            if (!when()) return;
            poll->stop();
            poll->deleteLater();
            check();
        });
        poll->start(5);
    }

    bool transferring() const { return bar()->isVisible() && bar()->value() >= 10; }

    void verifyIdleAfterRun(TestWindow& w) {
        QCOMPARE(w.caption(Control::UpgradeButton), gbk("升级(F8)"));
        QVERIFY(!w.link()->running);
        for (Control c : {Control::OpenFileButton, Control::BaudRateList, Control::DetectModelButton,
                          Control::UpgradeButton})
            QVERIFY(w.isEnabled(c));
        QVERIFY(!bar()->isVisible());
        QVERIFY(!w.control(mub::IdPercentLabel)->isVisible());
        QVERIFY(w.clockRunning());
        QCOMPARE(w.focusWidget(), w.control(mub::IdUpgradeButton));
        QVERIFY(!w.link()->serial().isOpen());
    }

private slots:
    void init() { folder_ = std::make_unique<ProgramFolder>(); }
    void cleanup() {
        window_.reset();
        machine_.reset();
        folder_.reset();
    }

    void fullUpgradeCountsAndIsStoredAtClose() {
        TestWindow& w = startAgainst({});
        QVERIFY(w.upgradeFile().loaded);
        bool sawConnecting = false;
        bool sawTransfer = false;
        during([&] { return w.link()->running.load(); }, [&] {
            sawConnecting = w.caption(Control::UpgradeButton) == gbk("停止") &&
                            !w.isEnabled(Control::DetectModelButton) && !w.isEnabled(Control::OpenFileButton) &&
                            !w.isEnabled(Control::BaudRateList) && w.isEnabled(Control::UpgradeButton);
        });
        during([&] { return transferring(); }, [&] {
            sawTransfer = w.caption(Control::UpgradeButton) == gbk("停止") && !w.isEnabled(Control::UpgradeButton) &&
                          !w.isEnabled(Control::DetectModelButton) && !w.clockRunning() &&
                          w.control(mub::IdPercentLabel)->isVisible();
        });
        button(mub::IdUpgradeButton)->click();

        QVERIFY(sawConnecting);
        QVERIFY(sawTransfer);
        verifyIdleAfterRun(w);
        QCOMPARE(w.fieldText(Field::Count), std::string("1"));
        QCOMPARE(w.fieldText(Field::MachineModel), std::string("QM-3000"));
        QVERIFY2(w.paneText().find(gbk("升级完成！\r\n耗时:")) != std::string::npos, w.paneText().c_str());
        QVERIFY(w.boxes.empty());

        w.close();
        QCOMPARE(w.endedWith, std::optional<int>(0));
        QCOMPARE(iniValue(folder_->readSettings(), "ImportHistory", "Count"), std::optional<std::string>("1"));
    }

    void fullUpgradeThroughTheBridgeLibrary() {
        // The stand-in library beside the program reaches the simulated
        // machine's terminal named in its environment.
        QVERIFY(QFile::copy(qEnvironmentVariable("MUB_BIN_DIR") + QStringLiteral("/libBridgeMini.so"),
                            folder_->path() + QStringLiteral("/libBridgeMini.so")));
        machine_ = std::make_unique<Simulator>();
        QVERIFY(machine_->start({}));
        qputenv("BRIDGEMINI_DEVICE", machine_->path().toLocal8Bit());
        folder_->writeSettings("[Port]\r\nPort=USB\r\nBaudRate=57600\r\n[ImportHistory]\r\nCount=0\r\n");
        window_ = std::make_unique<TestWindow>(folder_->path());
        QVERIFY(window_->start());
        TestWindow& w = *window_;
        QVERIFY(w.boxes.empty());
        QVERIFY(w.link()->usbMode());
        w.files.push_back(folder_->writeUpgradeFile(QStringLiteral("fw.mub"), "QM-3000", "HW-1.0", "1.10", 4096));
        w.openUpgradeFileCommand();
        button(mub::IdUpgradeButton)->click();
        qunsetenv("BRIDGEMINI_DEVICE");
        QVERIFY2(w.paneText().find(gbk("升级完成！")) != std::string::npos, mub::utf8(w.paneText()).c_str());
        QCOMPARE(w.fieldText(Field::Count), std::string("1"));
        verifyIdleAfterRun(w);
    }

    void stopWhileConnectingRestoresTheIdleWindow() {
        TestWindow& w = startAgainst({QStringLiteral("--silent")});
        during([&] { return w.link()->running.load(); }, [&] {
            QTest::qWait(200);
            button(mub::IdUpgradeButton)->click(); // reads 停止
        });
        button(mub::IdUpgradeButton)->click();
        QCOMPARE(w.paneText(), gbk("升级被停止！"));
        verifyIdleAfterRun(w);
        QCOMPARE(w.fieldText(Field::Count), std::string("0"));
    }

    void f8WhileTheTransferWaitsStopsIt() {
        TestWindow& w = startAgainst({QStringLiteral("--baud"), QStringLiteral("57600")}, "0", 16384);
        int positionAtStop = -1;
        during([&] { return transferring(); }, [&] {
            positionAtStop = bar()->value();
            emit w.hotKey().pressed(); // delivered like a grabbed key press
        });
        // F8 with no run starts one, like the button.
        emit w.hotKey().pressed();
        QVERIFY(waitUntil([&] { return positionAtStop >= 0 && !w.link()->running; }, 30000));
        QVERIFY(waitUntil([&] { return w.caption(Control::UpgradeButton) == gbk("升级(F8)"); }, 5000));
        QTest::qWait(50);
        // The stop replaced the pane; the abandoned block wait may add its line.
        QVERIFY2(w.paneText().rfind(gbk("升级被停止！"), 0) == 0, mub::utf8(w.paneText()).c_str());
        QVERIFY(positionAtStop < 100);
        QCOMPARE(w.fieldText(Field::Count), std::string("0"));
        QVERIFY(!bar()->isVisible());
        QVERIFY(!w.link()->serial().isOpen());

        // The next press starts a new run, which completes.
        emit w.hotKey().pressed();
        QVERIFY(waitUntil([&] { return w.fieldText(Field::Count) == "1"; }, 30000));
        QVERIFY(waitUntil([&] { return w.caption(Control::UpgradeButton) == gbk("升级(F8)"); }, 5000));
        QVERIFY2(w.paneText().find(gbk("升级完成！")) != std::string::npos, mub::utf8(w.paneText()).c_str());
    }

    void f8WithoutALoadedFileDoesNothing() {
        folder_->writeSettings("[Port]\r\nPort=COM9\r\nBaudRate=57600\r\n[ImportHistory]\r\nCount=0\r\n");
        window_ = std::make_unique<TestWindow>(folder_->path());
        QVERIFY(window_->start());
        emit window_->hotKey().pressed();
        QTest::qWait(50);
        QVERIFY(!window_->link()->running);
        QCOMPARE(window_->caption(Control::UpgradeButton), gbk("升级(F8)"));
        QCOMPARE(window_->paneText(), std::string());
    }

    void modelCheckFillsTheMachineFields() {
        TestWindow& w = startAgainst({QStringLiteral("--software"), QStringLiteral("2.05")});
        button(mub::IdDetectModelButton)->click();
        QCOMPARE(w.fieldText(Field::MachineModel), std::string("QM-3000"));
        QCOMPARE(w.fieldText(Field::MachineHardware), std::string("HW-1.0"));
        QCOMPARE(w.fieldText(Field::MachineSoftware), std::string("2.05"));
        QCOMPARE(w.caption(Control::DetectModelButton), gbk("型号检测"));
        QVERIFY(w.isEnabled(Control::UpgradeButton));
        QVERIFY(w.isEnabled(Control::OpenFileButton));
        QVERIFY(!w.link()->running);
        QCOMPARE(w.fieldText(Field::Count), std::string("0"));
    }

    void f8DuringAModelCheckLeavesTheCheckAlone() {
        // The model check owns the link until it ends; an upgrade started
        // under it would fight it for the machine's replies.
        TestWindow& w = startAgainst({QStringLiteral("--software"), QStringLiteral("2.05")});
        bool pressed = false;
        during([&] { return w.link()->running.load(); }, [&] {
            pressed = true;
            emit w.hotKey().pressed();
        });
        button(mub::IdDetectModelButton)->click();
        QVERIFY(pressed);
        QVERIFY(w.boxes.empty());
        QCOMPARE(w.fieldText(Field::MachineSoftware), std::string("2.05"));
        QCOMPARE(w.caption(Control::UpgradeButton), gbk("升级(F8)"));
        QCOMPARE(w.caption(Control::DetectModelButton), gbk("型号检测"));
        QVERIFY(!w.link()->running);
        QCOMPARE(w.fieldText(Field::Count), std::string("0"));
    }

    void modelCheckStopsOnItsSecondClick() {
        TestWindow& w = startAgainst({QStringLiteral("--silent")});
        bool disabledDuringCheck = false;
        during([&] { return w.link()->running.load(); }, [&] {
            disabledDuringCheck = !w.isEnabled(Control::UpgradeButton) &&
                                  w.caption(Control::DetectModelButton) == gbk("停止");
            QTest::qWait(100);
            button(mub::IdDetectModelButton)->click();
        });
        button(mub::IdDetectModelButton)->click();
        QVERIFY(disabledDuringCheck);
        QCOMPARE(w.paneText(), gbk("型号检测被停止！"));
        QCOMPARE(w.caption(Control::DetectModelButton), gbk("型号检测"));
        QCOMPARE(w.fieldText(Field::MachineModel), std::string());
        QVERIFY(w.isEnabled(Control::UpgradeButton));
        QVERIFY(!w.link()->running);
    }

    void clearCountDuringARunCountsFromZero() {
        TestWindow& w = startAgainst({QStringLiteral("--baud"), QStringLiteral("115200")}, "41", 8192);
        during([&] { return transferring(); }, [&] { button(mub::IdClearCountButton)->click(); });
        button(mub::IdUpgradeButton)->click();
        QVERIFY2(w.paneText().find(gbk("升级完成！")) != std::string::npos, w.paneText().c_str());
        QCOMPARE(w.fieldText(Field::Count), std::string("1"));
    }

    void closeDuringARunSavesTheSettings() {
        TestWindow& w = startAgainst({QStringLiteral("--baud"), QStringLiteral("57600")}, "5", 16384);
        static_cast<QComboBox*>(w.control(mub::IdBaudRateList))->setCurrentIndex(7);
        bool transportClosed = false;
        w.onEnd = [&] {
            transportClosed = !w.link()->serial().isOpen();
            w.link()->running = false; // the process would end here; let the run unwind
        };
        during([&] { return transferring(); }, [&] { w.close(); });
        button(mub::IdUpgradeButton)->click();
        QCOMPARE(w.endedWith, std::optional<int>(0));
        QVERIFY(transportClosed);
        std::string cfg = folder_->readSettings();
        QCOMPARE(iniValue(cfg, "Port", "BaudRate"), std::optional<std::string>("115200"));
        QCOMPARE(iniValue(cfg, "ImportHistory", "Count"), std::optional<std::string>("5"));
        QCOMPARE(iniValue(cfg, "History", "FilePath"), std::optional<std::string>(w.fieldText(Field::FilePath)));
        QCOMPARE(w.fieldText(Field::Count), std::string("5")); // the abandoned run did not count
    }
};

MUB_WINDOW_TEST_MAIN(WindowRunTest)
#include "window_run_test.moc"
