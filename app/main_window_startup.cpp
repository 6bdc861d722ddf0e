// Start-up of the main window, in the order the program has always used:
// single instance, caption, status bar and clock, progress display, baud
// rates, settings, button handlers, bridge-library check, open dialog,
// F8, bridge parameters.
#include "app/main_window.h"

#include "app/global_hot_key.h"
#include "app/main_layout.h"
#include "app/settings/port_overrides.h"
#include "app/settings/settings_file.h"
#include "app/single_instance.h"
#include "link/bridge_binding.h"
#include "link/machine_link.h"
#include "platform/gbk_text.h"
#include "serial/serial_channel.h"
#include "upgrade/program_title.h"
#include "upgrade_file/key_setup.h"
#include "upgrade_file/open_upgrade_file.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

namespace mub {

namespace {

// The settings give the dialog's folder in GBK, also when it is the program
// folder. (GBK bytes can also form valid UTF-8, so they are never guessed.)
QString folderText(const std::string& bytes) { return QString::fromStdString(utf8(bytes)); }

std::string trimTrailingBlanks(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    return text;
}

} // namespace

MainWindow::~MainWindow() {
    // The serial listener reports to the link: stop it before the link goes.
    if (serial_) serial_->close();
}

bool MainWindow::start() {
    if (started_) return true;

    // 1-3: the title, then refuse a second copy.
    std::string titleText = programTitle();
    singleInstance_ = std::make_unique<SingleInstance>(trimTrailingBlanks(titleText));
    if (!singleInstance_->claim()) {
        exitCode_ = 0;
        return false;
    }
    connect(singleInstance_.get(), &SingleInstance::activationRequested, this, [this] { bringToFront(); });

    // 4-5: caption; no file loaded.
    title_ = trimTrailingBlanks(titleText);
    setWindowTitle(QString::fromStdString(utf8(title_)));
    file_.loaded = false;

    // 6-7: status bar, clock, time-out tick. The tick runs at the shortest
    // interval such a timer had where the program comes from (10 ms) until
    // a run arms it; a zero interval would keep a core busy.
    setStatusText(0, "Marrowind");
    startClock();
    timeoutTimer_.start(10);

    // 8-9: progress display, hidden.
    setPercentText("100%");
    percentLabel_->hide();
    progressBar_->setRange(0, 100);
    progressBar_->hide();

    // 10: baud rates; the opened list shows all of them.
    for (std::string_view rate : baudRateTexts)
        baudRateList_->addItem(QString::fromLatin1(rate.data(), static_cast<qsizetype>(rate.size())),
                               QString::fromLatin1(rate.data(), static_cast<qsizetype>(rate.size())).toInt());
    baudRateList_->setMaxVisibleItems(baudRateList_->count());

    // 11: settings.
    const std::string dir = programDir_.toStdString();
    LoadedSettings loaded = loadSettings(dir);
    settingsPath_ = loaded.settingsPath;
    baudRateList_->setCurrentIndex(loaded.baudIndex);
    setFieldText(Field::Count, loaded.countText);

    PortTable ports;
    loadPortOverrides(settingsPath_, ports);
    serial_ = std::make_unique<SerialChannel>(ports);
    if (loaded.usbMode) bridge_ = std::make_unique<BridgeBinding>();
    link_ = std::make_unique<MachineLink>(*this, *serial_, bridge_.get(), loaded.usbMode);
    link_->portName = loaded.portName;
    opener_ = std::make_unique<UpgradeFileOpener>(*this, file_, link_->running, settingsPath_);

    // 13-15: the buttons.
    setEnabled(Control::UpgradeButton, false);
    connect(upgradeButton_, &QPushButton::clicked, this, [this] { toggleUpgrade(); });
    upgradeKey();
    companyMark();
    connect(detectModelButton_, &QPushButton::clicked, this, [this] { detectModelCommand(); });
    connect(openFileButton_, &QPushButton::clicked, this, [this] { openUpgradeFileCommand(); });
    connect(clearCountButton_, &QPushButton::clicked, this, [this] { clearCount(); });

    // 17: in USB mode the bridge library must lie beside the program.
    if (loaded.usbMode) {
        QString library = programDir_ + QLatin1Char('/') + QString::fromLatin1(bridgeLibraryFileName());
        if (!QFileInfo(library).isFile()) {
            messageBox(title_,
                       gbk("无法启动此程序，因为该计算机中丢失") + bridgeLibraryFileName() +
                           gbk("文件！请重新安装该程序。"),
                       BoxIcon::Error, false);
            exitCode_ = 0;
            return false;
        }
        bridge_->load(library.toStdString());
    }

    // 18-20: open dialog, F8, bridge parameters.
    openDialogFolder_ = folderText(loaded.openDialogFolder);
    hotKey_->registerF8();
    BridgeParams& params = link_->bridgeParams();
    params.words[0] = 0x0E6A;
    params.words[1] = 0x0103;
    params.words[2] = 1000;
    params.words[3] = 1000;

    // Fixed size, centred on the screen.
    adjustSize();
    setFixedSize(sizeHint());
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    started_ = true;
    return true;
}

void MainWindow::bringToFront() {
    // A copy that is still starting (or ending at the bridge-library box)
    // has no window to show yet.
    if (!started_) return;
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

} // namespace mub
