#include "app/qt/about_window.h"

#include "app/main_layout.h"
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

    // The controls of the About window's table.
    for (const ControlTemplate& control : aboutWindowControls()) {
        const QRect rect = units.rect(control.x, control.y, control.w, control.h);
        QWidget* widget = nullptr;
        switch (control.kind) {
        case ControlKind::Picture: {
            // At the table's position in the banner's own size, as a
            // system picture control takes the size of its bitmap.
            auto* picture = new QLabel(this);
            picture->setPixmap(aboutBanner());
            picture->setGeometry(QRect(rect.topLeft(), picture->pixmap().size()));
            widget = picture;
            break;
        }
        case ControlKind::Separator: {
            auto* line = new QFrame(this);
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Sunken);
            line->setGeometry(rect.adjusted(0, 0, 0, 1));
            widget = line;
            break;
        }
        case ControlKind::PushButton: {
            auto* button = new QPushButton(QString::fromUtf8(control.text), this);
            button->setGeometry(rect);
            if (control.id == IdAboutOkButton) {
                button->setDefault(true);
                connect(button, &QPushButton::clicked, this, &QDialog::accept);
            } else {
                button->setAutoDefault(false);
                connect(button, &QPushButton::clicked, this, &AboutWindow::systemInfoRequested);
            }
            widget = button;
            break;
        }
        default:
            QString text = QString::fromUtf8(control.text);
            if (control.id == IdAboutTitle) text = title;
            if (control.id == IdAboutVersion) text = QString::fromStdString(aboutVersionText());
            widget = addLabel(this, control.id, text, rect);
            break;
        }
        widget->setObjectName(QStringLiteral("control%1").arg(control.id));
        widget->setProperty("ctrlId", control.id);
    }
    resize(units.x(aboutWindowWidthDu), units.y(aboutWindowHeightDu));

    // Centred on the owner.
    if (owner) move(owner->geometry().center() - QPoint(width() / 2, height() / 2));
}

QWidget* AboutWindow::control(int id) const {
    for (QWidget* child : findChildren<QWidget*>())
        if (child->property("ctrlId").toInt() == id) return child;
    return nullptr;
}

} // namespace mub
