#include "app/qt/about_window.h"

#include "app/qt/window_icon.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace mub {

namespace {

QLabel* addLabel(QDialog* owner, int id, const QString& text, const QRect& rect) {
    auto* label = new QLabel(text, owner);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(rect);
    label->setObjectName(QStringLiteral("control%1").arg(id));
    label->setProperty("ctrlId", id);
    return label;
}

} // namespace

AboutWindow::AboutWindow(QWidget* owner, const QString& title, const DialogUnits& units)
    : QDialog(owner, Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("关于"));
    // Modal to the main window only: the main window gets no input while it
    // is open, but the program's boxes, which have no owner, still do (the
    // error boxes of 系统信息 are shown from here).
    setWindowModality(Qt::WindowModal);
    resize(units.x(253), units.y(178));

    auto* picture = new QLabel(this);
    picture->setGeometry(units.rect(12, 12, 81, 63));
    picture->setPixmap(aboutBanner(picture->size()));
    picture->setObjectName(QStringLiteral("control1101"));
    picture->setProperty("ctrlId", 1101);

    addLabel(this, 1102, title, units.rect(108, 15, 141, 12));
    addLabel(this, 1103, QStringLiteral("版本：1.0.0"), units.rect(108, 42, 141, 12));
    addLabel(this, 1104,
             QStringLiteral("本工具在生产线上为现金处理设备写入固件。升级过程中请勿断开连接线或关闭机器电源。"),
             units.rect(108, 69, 141, 39));

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(units.rect(12, 120, 242, 1).adjusted(0, 0, 0, 1));
    line->setObjectName(QStringLiteral("control1105"));
    line->setProperty("ctrlId", 1105);

    addLabel(this, 1106,
             QStringLiteral("警告：本程序受著作权法保护。未经许可，不得复制、修改或分发本程序的全部或部分内容。"),
             units.rect(12, 129, 174, 42));

    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setGeometry(units.rect(192, 129, 54, 18));
    ok->setObjectName(QStringLiteral("control1107"));
    ok->setProperty("ctrlId", 1107);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* info = new QPushButton(QStringLiteral("系统信息"), this);
    info->setGeometry(units.rect(192, 153, 54, 18));
    info->setObjectName(QStringLiteral("control1108"));
    info->setProperty("ctrlId", 1108);
    info->setAutoDefault(false);
    connect(info, &QPushButton::clicked, this, &AboutWindow::systemInfoRequested);

    // Centred on the owner.
    if (owner) move(owner->geometry().center() - QPoint(width() / 2, height() / 2));
}

QWidget* AboutWindow::control(int id) const {
    for (QWidget* child : findChildren<QWidget*>())
        if (child->property("ctrlId").toInt() == id) return child;
    return nullptr;
}

} // namespace mub
