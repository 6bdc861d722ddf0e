// Runs through the Qt view against the simulated machine on a
// pseudo-terminal: the grabbed F8 key and the close request reach the logic
// while a run waits inside the window's pauses.
#include "tests/app/window_test_support.h"

#include "app/qt/global_hot_key.h"
#include "app/main_layout.h"
#include "link/machine_link.h"
#include "link/serial_transport.h"
#include "platform/gbk_text.h"
#include "upgrade/program_version.h"

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

// Not in an unnamed namespace: the test class below keeps one as a member.
namespace mub::test {

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

} // namespace mub::test

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
        window_->logic().openUpgradeFileCommand();
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

private slots:
    void init() { folder_ = std::make_unique<ProgramFolder>(); }
    void cleanup() {
        window_.reset();
        machine_.reset();
        folder_.reset();
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
        QVERIFY(waitUntil([&] { return positionAtStop >= 0 && !w.logic().link()->running; }, 30000));
        QVERIFY(waitUntil([&] { return w.caption(Control::UpgradeButton) == gbk("升级(F8)"); }, 5000));
        QTest::qWait(50);
        // The stop replaced the pane; the abandoned block wait may add its line.
        QVERIFY2(w.paneText().rfind(gbk("升级被停止！"), 0) == 0, mub::utf8(w.paneText()).c_str());
        QVERIFY(positionAtStop < 100);
        QCOMPARE(w.fieldText(Field::Count), std::string("0"));
        QVERIFY(!bar()->isVisible());
        QVERIFY(!static_cast<mub::SerialTransport*>(w.logic().transport())->channel().isOpen());

        // The next press starts a new run, which completes.
        emit w.hotKey().pressed();
        QVERIFY(waitUntil([&] { return w.fieldText(Field::Count) == "1"; }, 30000));
        QVERIFY(waitUntil([&] { return w.caption(Control::UpgradeButton) == gbk("升级(F8)"); }, 5000));
        QVERIFY2(w.paneText().find(gbk("升级完成！")) != std::string::npos, mub::utf8(w.paneText()).c_str());

        // Each run has its line in the log beside cfg.ini: stopped, completed.
        QFile logFile(folder_->path() + QStringLiteral("/upgrades.csv"));
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = logFile.readAll().split('\n');
        QCOMPARE(lines.size(), 4); // the header, two lines, nothing after the last line end
        QVERIFY2(lines[1].contains(",\"stopped\",9,"), lines[1].constData());
        QVERIFY2(lines[2].contains("\"upgrader\",\"COM1\""), lines[2].constData());
        QVERIFY2(lines[2].contains(",\"completed\",0,128,128,0,0,"), lines[2].constData());
        QVERIFY2(lines[2].contains(",\"" + QByteArray::fromStdString(mub::programVersion()) + "\",\""),
                 lines[2].constData());
    }

    void closeDuringARunSavesTheSettings() {
        TestWindow& w = startAgainst({QStringLiteral("--baud"), QStringLiteral("57600")}, "5", 16384);
        static_cast<QComboBox*>(w.control(mub::IdBaudRateList))->setCurrentIndex(7);
        bool transportClosed = false;
        w.onEnd = [&] {
            transportClosed = !static_cast<mub::SerialTransport*>(w.logic().transport())->channel().isOpen();
            w.logic().link()->running = false; // the process would end here; let the run unwind
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
