// Qt's own dialog texts in Chinese when Qt's translations are installed, and
// a program that goes on in English when they are not.
#include "app/qt/qt_translations.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

class QtTranslationsTest : public QObject {
    Q_OBJECT

    static QString yesText() {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("t"), QStringLiteral("?"),
                        QMessageBox::Yes | QMessageBox::No);
        return box.button(QMessageBox::Yes)->text();
    }

private slots:
    void standardDialogsSpeakChineseWhenTheTranslationsAreThere() {
        QTemporaryDir empty;
        QVERIFY(!mub::installQtChinese(*qApp, empty.path()));
        QCOMPARE(yesText(), QStringLiteral("&Yes"));

        QVERIFY(mub::installQtChinese(*qApp));
        QVERIFY(yesText().startsWith(QStringLiteral("是")));
        QFileDialog dialog(nullptr, QStringLiteral("打开文件"));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        auto* buttons = dialog.findChild<QDialogButtonBox*>();
        QVERIFY(buttons != nullptr);
        QVERIFY(buttons->button(QDialogButtonBox::Open)->text().contains(QStringLiteral("打开")));
        QVERIFY(buttons->button(QDialogButtonBox::Cancel)->text().contains(QStringLiteral("取消")));
    }
};

QTEST_MAIN(QtTranslationsTest)
#include "qt_translations_test.moc"
