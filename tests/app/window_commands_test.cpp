// The Qt view's commands: buttons, menu items and the close request reach
// the logic; the boxes have no owner and leave the window usable; the About
// window is built from its template and its 系统信息 reaches the logic.
#include "tests/app/window_test_support.h"

#include "app/qt/about_window.h"
#include "app/main_layout.h"
#include "platform/gbk_text.h"
#include "upgrade/program_version.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QWindow>

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

    static QMessageBox* visibleBox() {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible()) return box;
        return nullptr;
    }

    // A click as the window system delivers it: a window that a modal
    // window blocks does not get it.
    static void clickThroughWindowSystem(QWidget* widget) {
        QWindow* window = widget->window()->windowHandle();
        QTest::mouseClick(window, Qt::LeftButton, {}, widget->mapTo(widget->window(), widget->rect().center()));
    }

private slots:
    void init() { folder_ = std::make_unique<ProgramFolder>(); }
    void cleanup() {
        window_.reset();
        folder_.reset();
    }

    void buttonsMenuItemsAndCloseReachTheLogic() {
        folder_->writeSettings("[Port]\r\nPort=COM5\r\nBaudRate=57600\r\n[History]\r\nFilePath=\r\n"
                               "[ImportHistory]\r\nCount=41\r\n");
        TestWindow& w = startWindow();
        QTest::mouseClick(w.control(mub::IdClearCountButton), Qt::LeftButton);
        QCOMPARE(static_cast<QLineEdit*>(w.control(mub::IdCountField))->text(), QStringLiteral("0"));

        std::string path = folder_->writeUpgradeFile(QStringLiteral("good.mub"), "QM-3000", "HW-1.0", "1.10", 1000);
        w.files.push_back(path);
        QTest::mouseClick(w.control(mub::IdOpenFileButton), Qt::LeftButton);
        QVERIFY(w.logic().upgradeFile().loaded);
        auto* pathField = static_cast<QLineEdit*>(w.control(mub::IdFilePathField));
        QCOMPARE(pathField->text(), QString::fromStdString(mub::utf8(path)));
        QCOMPARE(pathField->cursorPosition(), static_cast<int>(pathField->text().size()));
        QCOMPARE(static_cast<QLineEdit*>(w.control(mub::IdFileHardwareField))->text(), QStringLiteral("HW-1.0"));
        QVERIFY(w.control(mub::IdUpgradeButton)->isEnabled());
        QCOMPARE(w.focusWidget(), w.control(mub::IdUpgradeButton));
        w.files.push_back(std::nullopt);
        w.menuAction(mub::MenuOpen)->trigger();
        QVERIFY(w.files.empty()); // the menu item showed the dialog too

        w.menuAction(mub::MenuHelp)->trigger();
        QCOMPARE(w.boxes.size(), std::size_t{1});
        QCOMPARE(w.boxes[0].title, gbk("Tessaline帮助"));
        w.menuAction(mub::MenuDownload)->trigger();
        QCOMPARE(w.openedAddresses.size(), std::size_t{1});

        w.close();
        QCOMPARE(w.endedWith, std::optional<int>(0));
        QCOMPARE(iniValue(folder_->readSettings(), "ImportHistory", "Count"), std::optional<std::string>("0"));
    }

    void programBoxesHaveNoOwnerAndLeaveTheWindowUsable() {
        folder_->writeSettings("[Port]\r\nPort=COM1\r\nBaudRate=57600\r\n[History]\r\nFilePath=\r\n"
                               "[ImportHistory]\r\nCount=41\r\n");
        TestWindow& w = startWindow();
        w.realBoxes = true;

        SeenBox help;
        answerNextBox(QMessageBox::Ok, help);
        w.logic().showHelp();
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

    void aboutWindowIsBuiltFromItsTemplateAndReachesSystemInfo() {
        TestWindow& w = startWindow();
        QString label;
        QString caption;
        bool modal = false;
        w.onModal = [&](QDialog& dialog) {
            auto& about = static_cast<mub::AboutWindow&>(dialog);
            caption = about.windowTitle();
            modal = about.isModal();
            label = static_cast<QLabel*>(about.control(1102))->text();
            for (int id : {1101, 1103, 1104, 1105, 1106, 1107, 1108}) QVERIFY(about.control(id));
            QCOMPARE(static_cast<QLabel*>(about.control(1103))->text(),
                     QStringLiteral("版本：") + QString::fromStdString(mub::programVersion()));
            QCOMPARE(static_cast<QLabel*>(about.control(1101))->pixmap().size(), QSize(128, 24));
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
        QCOMPARE(label, w.windowTitle());
        QCOMPARE(w.boxes.size(), std::size_t{2}); // no system-information program in the test window
    }

    void systemInfoBoxesTakeInputWhileAboutIsOpen() {
        folder_->writeSettings("[Port]\r\nPort=COM1\r\nBaudRate=57600\r\n[History]\r\nFilePath=\r\n"
                               "[ImportHistory]\r\nCount=41\r\n");
        TestWindow& w = startWindow();
        w.realBoxes = true;
        int boxesAnswered = 0;
        int boxesStuck = 0;
        QString countWhileAboutOpen;
        w.onModal = [&](QDialog& dialog) {
            auto& about = static_cast<mub::AboutWindow&>(dialog);
            std::size_t boxesShown = 0;
            int tries = 0;
            QTimer poll;
            connect(&poll, &QTimer::timeout, &about, [&] {
                if (QMessageBox* box = visibleBox()) {
                    if (w.boxes.size() != boxesShown) { // a new box
                        boxesShown = w.boxes.size();
                        tries = 0;
                        ++boxesAnswered;
                    }
                    if (++tries > 25) { // it takes no clicks: close it so the test ends
                        ++boxesStuck;
                        box->button(QMessageBox::Ok)->click();
                        return;
                    }
                    clickThroughWindowSystem(box->button(QMessageBox::Ok));
                    return;
                }
                if (w.boxes.size() < 2) return;
                // The main window behind About still takes no input.
                clickThroughWindowSystem(w.control(mub::IdClearCountButton));
                countWhileAboutOpen = static_cast<QLineEdit*>(w.control(mub::IdCountField))->text();
                poll.stop();
                about.accept();
            });
            QTimer::singleShot(0, &about, [&] { clickThroughWindowSystem(about.control(1108)); });
            poll.start(20);
            dialog.exec();
        };
        w.menuAction(mub::MenuAbout)->trigger();
        QCOMPARE(w.boxes.size(), std::size_t{2});
        QCOMPARE(w.boxes[0].text, gbk("错误 - 文件找不到..."));
        QCOMPARE(boxesAnswered, 2);
        QCOMPARE(boxesStuck, 0);
        QCOMPARE(countWhileAboutOpen, QStringLiteral("41"));
    }
};

MUB_WINDOW_TEST_MAIN(WindowCommandsTest)
#include "window_commands_test.moc"
