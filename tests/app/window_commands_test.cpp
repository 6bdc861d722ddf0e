// Menu commands and secondary windows: help, download page, About window,
// system information, 清零 and closing.
#include "tests/app/window_test_support.h"

#include "app/about_window.h"
#include "app/main_layout.h"
#include "link/machine_link.h"
#include "platform/gbk_text.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <memory>

using mub::gbk;
using namespace mub::test;

class WindowCommandsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolder> folder_;
    std::unique_ptr<TestWindow> window_;

    TestWindow& startWindow() {
        window_ = startedWindow(*folder_);
        window_->show();
        return *window_;
    }

    struct SeenBox {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool ownerless = false;
        bool blocksTheWindow = true;
        QString countWhileUp;
    };

    // Once the next box is up: notes how it looks, clicks 清零 on the main
    // window behind it, then presses `answer`.
    void answerNextBox(QMessageBox::StandardButton answer, SeenBox& seen) {
        QTimer::singleShot(0, window_.get(), [this, answer, &seen] {
            QMessageBox* box = nullptr;
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* candidate = qobject_cast<QMessageBox*>(top); candidate && candidate->isVisible())
                    box = candidate;
            if (!box) return;
            seen.title = box->windowTitle();
            seen.text = box->text();
            seen.icon = box->icon();
            seen.ownerless = box->parentWidget() == nullptr;
            seen.blocksTheWindow = QApplication::activeModalWidget() != nullptr;
            QTest::mouseClick(window_->control(mub::IdClearCountButton), Qt::LeftButton);
            seen.countWhileUp = QString::fromStdString(window_->fieldText(mub::Field::Count));
            box->button(answer)->click();
        });
    }

private slots:
    void init() { folder_ = std::make_unique<ProgramFolder>(); }
    void cleanup() {
        window_.reset();
        folder_.reset();
    }

    void helpShowsTheFourStepsWithoutIcon() {
        TestWindow& w = startWindow();
        w.menuAction(mub::MenuHelp)->trigger();
        QCOMPARE(w.boxes.size(), std::size_t{1});
        QCOMPARE(w.boxes[0].title, gbk("Tessaline帮助"));
        QCOMPARE(w.boxes[0].text, gbk("第一步：选择波特率。\r\n\r\n第二步：打开升级文件。\r\n\r\n第三步：用USB连接线将机器"
                                      "和电脑连接，打开机器电源。\r\n\r\n第四步：机器进入待机状态后，点击升级按钮。"));
        QVERIFY(!w.boxes[0].error);
        QVERIFY(!w.boxes[0].question);
    }

    void programBoxesHaveNoOwnerAndLeaveTheWindowUsable() {
        folder_->writeSettings("[Port]\r\nPort=COM1\r\nBaudRate=57600\r\n[History]\r\nFilePath=\r\n"
                               "[ImportHistory]\r\nCount=41\r\n");
        TestWindow& w = startWindow();
        w.realBoxes = true;

        SeenBox help;
        answerNextBox(QMessageBox::Ok, help);
        w.showHelp();
        QCOMPARE(help.title, QStringLiteral("Tessaline帮助"));
        QVERIFY(help.text.startsWith(QStringLiteral("第一步：选择波特率。\n\n第二步")));
        QCOMPARE(help.icon, QMessageBox::NoIcon);
        QVERIFY(help.ownerless);
        QVERIFY(!help.blocksTheWindow);
        QCOMPARE(help.countWhileUp, QStringLiteral("0")); // 清零 was handled while the box waited

        SeenBox error;
        answerNextBox(QMessageBox::Ok, error);
        w.errorBox(gbk("错误文本"));
        QCOMPARE(error.title, QStringLiteral("Korvan升级工具v1.0--生产专用"));
        QCOMPARE(error.text, QStringLiteral("错误文本"));
        QCOMPARE(error.icon, QMessageBox::Critical);
        QVERIFY(error.ownerless && !error.blocksTheWindow);

        SeenBox yes;
        SeenBox no;
        answerNextBox(QMessageBox::Yes, yes);
        QVERIFY(w.askYesNo(gbk("继续？")));
        answerNextBox(QMessageBox::No, no);
        QVERIFY(!w.askYesNo(gbk("继续？")));
        QCOMPARE(yes.icon, QMessageBox::Warning);
        QCOMPARE(no.title, QStringLiteral("Korvan升级工具v1.0--生产专用"));
        QVERIFY(!yes.blocksTheWindow && !no.blocksTheWindow);
    }

    void downloadOpensThePolicyPage() {
        TestWindow& w = startWindow();
        w.menuAction(mub::MenuDownload)->trigger();
        QCOMPARE(w.openedUrls.size(), std::size_t{1});
        QUrl url(w.openedUrls[0]);
        QVERIFY(url.isValid());
        QCOMPARE(url.path(), QStringLiteral("/policy.asp"));
        QVERIFY(url.scheme().startsWith(QStringLiteral("http")));
        QVERIFY(!url.host().isEmpty());
    }

    void aboutWindowShowsTheTitleOfTheMoment() {
        TestWindow& w = startWindow();
        w.setWindowTitle(QStringLiteral("changed title"));
        QString label;
        QString caption;
        bool modal = false;
        w.onModal = [&](QDialog& dialog) {
            auto& about = static_cast<mub::AboutWindow&>(dialog);
            caption = about.windowTitle();
            modal = about.isModal();
            label = static_cast<QLabel*>(about.control(1102))->text();
            for (int id : {1101, 1103, 1104, 1105, 1106, 1107, 1108}) QVERIFY(about.control(id));
            QCOMPARE(static_cast<QLabel*>(about.control(1103))->text(), QStringLiteral("版本：1.0.0"));
            QVERIFY(!static_cast<QLabel*>(about.control(1101))->pixmap().isNull());
            QCOMPARE(about.control(1107)->geometry(), w.units().rect(192, 129, 54, 18));
            // 系统信息 inside the About window reaches the system-information command.
            static_cast<QPushButton*>(about.control(1108))->click();
            // 确定 closes the window.
            about.show();
            static_cast<QPushButton*>(about.control(1107))->click();
            QVERIFY(!about.isVisible());
        };
        w.menuAction(mub::MenuAbout)->trigger();
        QCOMPARE(caption, QStringLiteral("关于"));
        QVERIFY(modal);
        // The title of the moment, not the template's text.
        QCOMPARE(label, QStringLiteral("changed title"));
        QCOMPARE(w.boxes.size(), std::size_t{2});
    }

    void systemInfoWithoutProgramShowsBothErrorsInOrder() {
        TestWindow& w = startWindow();
        w.showSystemInfo();
        QCOMPARE(w.boxes.size(), std::size_t{2});
        QCOMPARE(w.boxes[0].title, gbk("错误"));
        QCOMPARE(w.boxes[0].text, gbk("错误 - 文件找不到..."));
        QCOMPARE(w.boxes[1].title, gbk("错误"));
        QCOMPARE(w.boxes[1].text, gbk("错误 - 注册表项找不到..."));
        QVERIFY(w.boxes[0].error && w.boxes[1].error);
        QVERIFY(w.startedPrograms.empty());
    }

    void systemInfoStartsTheProgramFound() {
        TestWindow& w = startWindow();
        w.systemInfoProgram = QStringLiteral("/usr/bin/hardinfo");
        w.showSystemInfo();
        QVERIFY(w.boxes.empty());
        QCOMPARE(w.startedPrograms, std::vector<QString>{QStringLiteral("/usr/bin/hardinfo")});
    }

    void clearCountSetsZeroAndCloseStoresIt() {
        folder_->writeSettings("[Port]\r\nPort=COM5\r\nBaudRate=57600\r\n[History]\r\nFilePath=\r\n"
                               "[ImportHistory]\r\nCount=41\r\n");
        TestWindow& w = startWindow();
        QCOMPARE(w.fieldText(mub::Field::Count), std::string("41"));
        QTest::mouseClick(w.control(mub::IdClearCountButton), Qt::LeftButton);
        QCOMPARE(w.fieldText(mub::Field::Count), std::string("0"));
        w.menuAction(mub::MenuExit)->trigger();
        QCOMPARE(w.endedWith, std::optional<int>(0));
        std::string cfg = folder_->readSettings();
        QCOMPARE(iniValue(cfg, "ImportHistory", "Count"), std::optional<std::string>("0"));
        QCOMPARE(iniValue(cfg, "Port", "Port"), std::optional<std::string>("COM5"));
    }

    void closingWithoutChangesLeavesTheFileUntouched() {
        const std::string text = "; operator notes\r\n[Port]\r\nPort=COM2\r\nBaudRate=9600\r\n[History]\r\n"
                                 "FilePath=\r\n[ImportHistory]\r\nCount=7\r\n";
        folder_->writeSettings(text);
        TestWindow& w = startWindow();
        w.close();
        QCOMPARE(w.endedWith, std::optional<int>(0));
        QCOMPARE(folder_->readSettings(), text);
    }

    void closeStoresChangedBaudRateAndPort() {
        TestWindow& w = startWindow();
        static_cast<QComboBox*>(w.control(mub::IdBaudRateList))->setCurrentIndex(7);
        w.link()->portName = "COM5"; // where the machine last answered
        w.close();
        std::string cfg = folder_->readSettings();
        QCOMPARE(iniValue(cfg, "Port", "BaudRate"), std::optional<std::string>("115200"));
        QCOMPARE(iniValue(cfg, "Port", "Port"), std::optional<std::string>("COM5"));
    }
};

MUB_WINDOW_TEST_MAIN(WindowCommandsTest)
#include "window_commands_test.moc"
