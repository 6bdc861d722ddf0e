// Qt's own dialog texts in Chinese when Qt's translations are installed, and
// a program that goes on in English when they are not. With
// MUB_DIALOG_SCREENSHOTS=DIR the question box and the open dialog are also
// saved as pictures there (question-box.png, open-dialog.png).
#include "tests/app/window_test_support.h"

#include "app/qt/qt_translations.h"
#include "platform/gbk_text.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace mub::test;

class QtTranslationsTest : public QObject {
    Q_OBJECT

    static void savePicture(QWidget& widget, const char* name) {
        QString folder = qEnvironmentVariable("MUB_DIALOG_SCREENSHOTS");
        if (!folder.isEmpty()) QVERIFY(widget.grab().save(folder + QLatin1Char('/') + QLatin1String(name), "PNG"));
    }

    // The buttons of the window's own question box, answered with No.
    static QStringList questionButtons(TestWindow& window) {
        QStringList texts;
        QTimer::singleShot(100, &window, [&texts] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(top);
                if (!box || !box->isVisible()) continue;
                for (QAbstractButton* button : box->buttons()) texts << button->text();
                savePicture(*box, "question-box.png");
                box->button(QMessageBox::No)->click();
            }
        });
        window.askYesNo(mub::gbk("软件版本相同,是否继续更新！“是”继续，“否”不更新。"));
        texts.sort();
        return texts;
    }

private slots:
    void standardDialogsSpeakChineseWhenTheTranslationsAreThere() {
        ProgramFolder folder;
        std::unique_ptr<TestWindow> window = startedWindow(folder);
        window->realBoxes = true;

        QTemporaryDir empty;
        QVERIFY(!mub::installQtChinese(*qApp, empty.path()));
        QCOMPARE(questionButtons(*window), QStringList({QStringLiteral("&No"), QStringLiteral("&Yes")}));

        QVERIFY(mub::installQtChinese(*qApp));
        QStringList chinese = questionButtons(*window);
        QCOMPARE(chinese.size(), 2);
        QVERIFY(chinese[0].startsWith(QStringLiteral("否")) && chinese[1].startsWith(QStringLiteral("是")));

        QFileDialog dialog(nullptr, QStringLiteral("打开文件"), folder.path(), QStringLiteral("升级文件(*.mub)"));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        auto* buttons = dialog.findChild<QDialogButtonBox*>();
        QVERIFY(buttons != nullptr);
        QVERIFY(buttons->button(QDialogButtonBox::Open)->text().contains(QStringLiteral("打开")));
        QVERIFY(buttons->button(QDialogButtonBox::Cancel)->text().contains(QStringLiteral("取消")));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        savePicture(dialog, "open-dialog.png");
    }
};

QTEST_MAIN(QtTranslationsTest)
#include "qt_translations_test.moc"
