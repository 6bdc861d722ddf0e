// The Windows station program mub-station.exe: the command line (as UTF-8)
// to the station window's logic, which reads station.ini beside cfg.ini;
// a usage error ends it with a box before the window shows.
#include "app/settings/settings_file.h"
#include "app/station/station_host.h"
#include "app/station/win32/station_frame.h"
#include "app/win32/text_edge.h"

#include "platform/fine_timer_windows.h"

#include <shellapi.h>

#include <exception>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* boxTitle = L"生产工位 - 升级工具";

std::vector<std::string> commandLineArguments() {
    std::vector<std::string> args;
    int count = 0;
    wchar_t** given = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!given) return args;
    for (int i = 1; i < count; ++i) args.push_back(mub::utf8FromWide(given[i]));
    ::LocalFree(given);
    return args;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
    // The link's millisecond waits need the system timer's 1 ms period, also
    // while the window is minimised.
    mub::FineTimer timer;
    try {
        // Declared first, so that it goes last: its port threads end after
        // the window has.
        mub::StationWindow station(mub::stationWindowHost(mub::programFolder()));
        std::string error;
        if (!station.begin(commandLineArguments(), error)) {
            ::MessageBoxW(nullptr, mub::wideFromGbk(error).c_str(), boxTitle, MB_OK | MB_ICONERROR);
            return 1;
        }
        mub::StationFrame frame(station);
        if (!frame.create(show, error)) {
            ::MessageBoxW(nullptr, (L"无法创建窗口：" + mub::wideFromGbk(error)).c_str(), boxTitle,
                          MB_OK | MB_ICONERROR);
            return 1;
        }
        station.startIfReady();
        return frame.run();
    } catch (const std::exception& error) {
        ::MessageBoxW(nullptr, mub::wideFromUtf8(error.what()).c_str(), boxTitle, MB_OK | MB_ICONERROR);
        return 1;
    }
}
