// The open command through the window: the dialog answered by the test,
// the fields, buttons, messages, boxes and the remembered path.
#include "tests/app/window_test_support.h"

#include "app/main_layout.h"
#include "link/machine_link.h"
#include "platform/gbk_text.h"
#include "upgrade_file/encode_upgrade_file.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

using mub::Control;
using mub::Field;
using mub::gbk;
using namespace mub::test;

class WindowOpenTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> folder_;
    std::unique_ptr<TestWindow> window_;

    TestWindow& startWindow() {
        window_ = startedWindow(*folder_);
        window_->show();
        window_->activateWindow();
        return *window_;
    }

    void clickOpen() { QTest::mouseClick(window_->control(mub::IdOpenFileButton), Qt::LeftButton); }

    std::string goodFile() const {
        return folder_->writeUpgradeFile(QStringLiteral("good.mub"), "QM-3000", "HW-1.0", "1.10", 1000);
    }

    std::string damagedFile() const {
        std::string path = goodFile();
        QFile file(folder_->path() + QStringLiteral("/good.mub"));
        file.open(QIODevice::ReadOnly);
        QByteArray bytes = file.readAll();
        bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x5A);
        return folder_->writeBytes(QStringLiteral("damaged.mub"), bytes.toStdString());
    }

    std::string illFormedFile() const {
        // Sealed correctly, but the body lacks the version and image lines.
        mub::Bytes sealed = mub::sealUpgradeBody("id=QM-3000\r\n");
        return folder_->writeBytes(QStringLiteral("format.mub"), std::string(sealed.begin(), sealed.end()));
    }

    void verifyNothingLoaded(TestWindow& w) {
        QVERIFY(!w.upgradeFile().loaded);
        for (Field f : {Field::FileModel, Field::FileHardware, Field::FileSoftware, Field::MachineModel,
                        Field::MachineHardware, Field::MachineSoftware, Field::FilePath})
            QCOMPARE(w.fieldText(f), std::string());
        QVERIFY(!w.isEnabled(Control::UpgradeButton));
        QVERIFY(!w.isEnabled(Control::DetectModelButton));
        QCOMPARE(w.paneText(), gbk("读取文件失败。."));
    }

private slots:
    void init() { folder_ = std::make_unique<ProgramFolder>(); }
    void cleanup() {
        window_.reset();
        folder_.reset();
    }

    void goodFileIsLoadedShownAndRemembered() {
        TestWindow& w = startWindow();
        w.setFieldText(Field::MachineHardware, "HW-OLD"); // read from a machine before
        std::string path = goodFile();
        w.files.push_back(path);
        clickOpen();

        QVERIFY(w.upgradeFile().loaded);
        QCOMPARE(w.upgradeFile().image.size(), std::size_t{1000});
        QCOMPARE(w.fieldText(Field::FilePath), path);
        QCOMPARE(w.fieldText(Field::FileModel), std::string("QM-3000"));
        QCOMPARE(w.fieldText(Field::FileHardware), std::string("HW-1.0"));
        QCOMPARE(w.fieldText(Field::FileSoftware), std::string("1.10"));
        QCOMPARE(w.fieldText(Field::MachineHardware), std::string());
        auto* pathField = static_cast<QLineEdit*>(w.control(mub::IdFilePathField));
        QCOMPARE(pathField->cursorPosition(), static_cast<int>(pathField->text().size()));
        QCOMPARE(static_cast<QLineEdit*>(w.control(mub::IdFileHardwareField))->text(), QStringLiteral("HW-1.0"));

        QVERIFY(w.isEnabled(Control::UpgradeButton));
        QVERIFY(w.isEnabled(Control::DetectModelButton));
        QCOMPARE(w.focusWidget(), w.control(mub::IdUpgradeButton));
        QCOMPARE(w.paneText(), gbk("文件读取成功。."));
        QCOMPARE(w.tones, (std::vector<std::pair<int, int>>{{1000, 500}}));
        QVERIFY(w.boxes.empty());
        QCOMPARE(iniValue(folder_->readSettings(), "History", "FilePath"), std::optional<std::string>(path));
    }

    void damagedAndIllFormedFilesAreRejectedWithTheirBoxes() {
        TestWindow& w = startWindow();
        w.files.push_back(damagedFile());
        clickOpen();
        verifyNothingLoaded(w);
        QCOMPARE(w.boxes.size(), std::size_t{1});
        QCOMPARE(w.boxes[0].text, gbk("非法文件或文件损坏！！！\r\n请选择正确的文件。"));
        QCOMPARE(w.boxes[0].title, w.title());
        QVERIFY(w.boxes[0].error);

        // The menu command is the same command.
        w.files.push_back(illFormedFile());
        w.menuAction(mub::MenuOpen)->trigger();
        verifyNothingLoaded(w);
        QCOMPARE(w.boxes.size(), std::size_t{2});
        QCOMPARE(w.boxes[1].text, gbk("文件格式错误！！！\r\n请选择正确的文件。"));
        QVERIFY(w.tones.empty());
        QCOMPARE(iniValue(folder_->readSettings(), "History", "FilePath"), std::optional<std::string>(""));
    }

    void cancelKeepsTheLoadedFile() {
        TestWindow& w = startWindow();
        std::string path = goodFile();
        w.files.push_back(path);
        clickOpen();
        QVERIFY(w.upgradeFile().loaded);
        w.setMessage("before");
        w.files.push_back(std::nullopt);
        clickOpen();
        QVERIFY(w.upgradeFile().loaded);
        QCOMPARE(w.fieldText(Field::FilePath), path);
        QVERIFY(w.isEnabled(Control::UpgradeButton));
        QCOMPARE(w.paneText(), std::string("before"));
    }

    void badFileUnloadsTheGoodOneAndAGoodOneLoadsAgain() {
        TestWindow& w = startWindow();
        std::string good = goodFile();
        w.files.push_back(good);
        clickOpen();
        w.files.push_back(damagedFile());
        clickOpen();
        verifyNothingLoaded(w);
        QCOMPARE(iniValue(folder_->readSettings(), "History", "FilePath"), std::optional<std::string>(good));

        w.files.push_back(good);
        clickOpen();
        QVERIFY(w.upgradeFile().loaded);
        QVERIFY(w.isEnabled(Control::UpgradeButton));
        QCOMPARE(w.fieldText(Field::FileSoftware), std::string("1.10"));
        QCOMPARE(w.paneText(), gbk("文件读取成功。."));
    }

    void openIsRefusedWhileARunIsInProgress() {
        TestWindow& w = startWindow();
        w.files.push_back(goodFile());
        w.link()->running = true;
        w.menuAction(mub::MenuOpen)->trigger();
        QVERIFY(!w.upgradeFile().loaded);
        QCOMPARE(w.files.size(), std::size_t{1}); // the dialog was not even shown
        w.link()->running = false;
    }

    void storedPathGivesTheDialogFolderOfTheNextStart() {
        TestWindow& w = startWindow();
        std::string path = goodFile();
        w.files.push_back(path);
        clickOpen();
        window_.reset();
        TestWindow& next = startWindow();
        QCOMPARE(next.openDialogFolder(), folder_->path());
        QCOMPARE(next.fieldText(Field::FilePath), std::string()); // nothing is loaded at start
    }
};

MUB_WINDOW_TEST_MAIN(WindowOpenTest)
#include "window_open_test.moc"
