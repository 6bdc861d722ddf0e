// The station window program mub-station: the settings of station.ini and
// the command line, then one window until it is closed or --count machines
// are done.
#include "app/qt/qt_translations.h"
#include "app/qt/termination_signals.h"
#include "app/settings/settings_file.h"
#include "app/station/qt/station_main_window.h"
#include "app/station/station_host.h"
#include "platform/gbk_text.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    mub::installQtChinese(application);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    mub::StationWindow station(mub::stationWindowHost(mub::programFolder()));
    std::string error;
    if (!station.begin(args, error)) {
        QMessageBox::critical(nullptr, QString::fromUtf8("生产工位 - 升级工具"), QString::fromStdString(mub::utf8(error)));
        return 1;
    }
    mub::StationMainWindow window(station);
    mub::TerminationSignals termination([&window] { window.close(); });
    window.show();
    station.startIfReady();
    const int code = application.exec();
    return code != 0 ? code : window.exitCode();
}
