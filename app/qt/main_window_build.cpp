// Builds the main window from its tables: controls at their dialog-unit
// positions, the menu bar, the status bar with the progress display over it.
#include "app/qt/main_window.h"

#include "app/clock_text.h"
#include "app/main_layout.h"
#include "app/qt/global_hot_key.h"
#include "app/qt/single_instance.h"
#include "app/qt/window_icon.h"
#include "app/settings/settings_file.h"
#include "platform/gbk_text.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

namespace mub {

namespace {

QString text(const char* utf8Text) { return QString::fromUtf8(utf8Text); }

} // namespace

MainWindow::MainWindow(QString programDir)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      programDir_(programDir.isEmpty() ? QCoreApplication::applicationDirPath() : programDir), font_(windowFont()),
      units_(font_), hotKey_(std::make_unique<GlobalHotKey>()), logic_(*this, *this) {
    setFont(font_);
    setWindowIcon(programIcon());
    buildMenuBar();
    buildControls();

    pauseTimer_.setTimerType(Qt::PreciseTimer);
    pauseTimer_.setSingleShot(true);
    dispatcher_ = QAbstractEventDispatcher::instance(thread());
    clockTimer_.setTimerType(Qt::PreciseTimer);
    connect(&clockTimer_, &QTimer::timeout, this, [this] { setStatusText(1, clockTextNow()); });
    timeoutTimer_.setTimerType(Qt::PreciseTimer);
    connect(&timeoutTimer_, &QTimer::timeout, this, [this] { timeoutElapsed_ = true; });
    connect(hotKey_.get(), &GlobalHotKey::pressed, this, [this] { logic_.onUpgradeHotKey(); });
}

void MainWindow::buildControls() {
    client_ = new QWidget(this);
    client_->setObjectName(QStringLiteral("client"));
    client_->setFixedSize(units_.x(mainWindowWidthDu), units_.y(mainWindowHeightDu));
    setCentralWidget(client_);

    QWidget* previousTabStop = nullptr;
    for (const ControlTemplate& control : mainWindowControls()) {
        QWidget* widget = nullptr;
        bool tabStop = false;
        switch (control.kind) {
        case ControlKind::GroupBox:
            widget = new QGroupBox(text(control.text), client_);
            break;
        case ControlKind::PushButton: {
            auto* button = new QPushButton(text(control.text), client_);
            button->setAutoDefault(false);
            connect(button, &QPushButton::clicked, this, [this, id = control.id] { logic_.command(id); });
            widget = button;
            tabStop = true;
            break;
        }
        case ControlKind::DropDownList: {
            auto* list = new QComboBox(client_);
            list->setEditable(false);
            // The baud rates; the opened list shows all of them.
            for (std::string_view rate : baudRateTexts) {
                QString item = QString::fromLatin1(rate.data(), static_cast<qsizetype>(rate.size()));
                list->addItem(item, item.toInt());
            }
            list->setMaxVisibleItems(list->count());
            widget = list;
            tabStop = true;
            break;
        }
        case ControlKind::ReadOnlyEdit: {
            auto* edit = new QLineEdit(text(control.text), client_);
            edit->setReadOnly(true);
            widget = edit;
            tabStop = control.id == IdCountField;
            break;
        }
        case ControlKind::Label:
        case ControlKind::CentredLabel: {
            auto* label = new QLabel(text(control.text), client_);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment((control.kind == ControlKind::CentredLabel ? Qt::AlignHCenter : Qt::AlignLeft) |
                                Qt::AlignTop);
            widget = label;
            break;
        }
        case ControlKind::MessagePane: {
            auto* pane = new QPlainTextEdit(client_);
            pane->setReadOnly(true);
            pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            pane->setLineWrapMode(QPlainTextEdit::WidgetWidth);
            widget = pane;
            break;
        }
        case ControlKind::StatusBar: {
            auto* bar = new QStatusBar(client_);
            bar->setSizeGripEnabled(false);
            // Part 0 ends at pixel 180, part 1 takes the rest.
            for (int part = 0; part < 2; ++part) {
                statusParts_[part] = new QLabel(bar);
                statusParts_[part]->setTextFormat(Qt::PlainText);
                statusParts_[part]->setObjectName(QStringLiteral("statusPart%1").arg(part));
            }
            statusParts_[0]->setFixedWidth(176);
            bar->addWidget(statusParts_[0]);
            bar->addWidget(statusParts_[1], 1);
            int height = bar->sizeHint().height();
            bar->setGeometry(0, client_->height() - height, client_->width(), height);
            widget = bar;
            break;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(client_);
            bar->setRange(0, 100);
            bar->setValue(0);
            bar->setTextVisible(false);
            widget = bar;
            break;
        }
        case ControlKind::PercentLabel: {
            auto* label = new QLabel(text(control.text), client_);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            label->setAutoFillBackground(false);
            label->setAttribute(Qt::WA_TranslucentBackground);
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
            widget = label;
            break;
        }
        case ControlKind::Picture:
        case ControlKind::Separator:
        case ControlKind::TextBlock:
            continue; // kinds of the About window
        }
        if (control.kind != ControlKind::StatusBar) widget->setGeometry(units_.rect(control.x, control.y, control.w, control.h));
        widget->setObjectName(QString::fromLatin1(*control.name ? control.name : "control") +
                              (*control.name ? QString() : QString::number(control.id)));
        widget->setProperty("ctrlId", control.id);
        widget->setFocusPolicy(tabStop ? Qt::StrongFocus
                                       : (control.kind == ControlKind::ReadOnlyEdit || control.kind == ControlKind::MessagePane
                                              ? Qt::ClickFocus
                                              : Qt::NoFocus));
        if (control.hidden) widget->hide();
        if (tabStop) {
            if (previousTabStop) QWidget::setTabOrder(previousTabStop, widget);
            previousTabStop = widget;
        }
        controls_[control.id] = widget;
    }

    baudRateList_ = static_cast<QComboBox*>(controls_.at(IdBaudRateList));
    messagePane_ = static_cast<QPlainTextEdit*>(controls_.at(IdMessagePane));
    progressBar_ = static_cast<QProgressBar*>(controls_.at(IdProgressBar));
    percentLabel_ = static_cast<QLabel*>(controls_.at(IdPercentLabel));

    // The progress bar lies over the right end of the status bar, the
    // percentage over the bar.
    progressBar_->raise();
    percentLabel_->raise();

    captions_[Control::UpgradeButton] = gbk(findControlSpec(IdUpgradeButton)->text);
    captions_[Control::DetectModelButton] = gbk(findControlSpec(IdDetectModelButton)->text);
    fieldTexts_[Field::Count] = gbk(findControlSpec(IdCountField)->text);
}

void MainWindow::buildMenuBar() {
    QMenuBar* bar = menuBar();
    QMenu* menu = nullptr;
    for (const MenuSpec& control : mainMenuBar()) {
        if (control.topLevel) {
            menu = bar->addMenu(text(control.text));
            continue;
        }
        if (!menu) continue;
        if (!*control.text) {
            menu->addSeparator();
            continue;
        }
        // The text after the tab is printed as a hint; no shortcut is set.
        QAction* action = menu->addAction(text(control.text));
        action->setObjectName(QStringLiteral("menu%1").arg(control.id));
        action->setProperty("ctrlId", control.id);
        actions_[control.id] = action;
        connect(action, &QAction::triggered, this, [this, id = control.id] { logic_.command(id); });
    }
}

QWidget* MainWindow::control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

QAction* MainWindow::menuAction(int id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

} // namespace mub
