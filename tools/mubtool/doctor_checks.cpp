#include "tools/mubtool/doctor_checks.h"

#include "app/settings/settings_file.h"
#include "app/settings/settings_location.h"
#include "link/bridge_binding.h"
#include "platform/bridge_abi.h"
#include "platform/file_path.h"
#include "platform/serial_port_services.h"
#include "platform/wake_wait.h"
#include "tools/mubtool/doctor_system.h"
#include "upgrade/headless_waits.h"
#include "upgrade/upgrade_log.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

namespace mub::tool {
namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(fileSystemPath(path), error);
}

// Whether `folder`, which does not exist, could be made: the nearest folder
// above it that exists may be written.
bool creatable(const std::string& folder) {
    std::filesystem::path parent = fileSystemPath(folder);
    std::error_code error;
    while (parent.has_relative_path() && !std::filesystem::exists(parent, error)) parent = parent.parent_path();
    const std::u8string name = parent.u8string();
    return folderWritable(std::string(name.begin(), name.end()));
}

// The six functions and their argument counts, as the binding looks them up.
struct Function {
    const char* name;
    int arguments;
};
constexpr Function bridgeFunctions[] = {
    {BRIDGE_FN_CONNECT, 2}, {BRIDGE_FN_SET_MODE, 3}, {BRIDGE_FN_CLEAR, 1},
    {BRIDGE_FN_WRITE, 4},   {BRIDGE_FN_READ, 4},     {BRIDGE_FN_DISCONNECT, 1},
};

std::vector<BridgeName> exportedNames(const std::string& path) {
    std::vector<BridgeName> names;
    void* library = loadedLibrary(path);
    if (!library) return names;
    for (const Function& f : bridgeFunctions) {
        const BridgeSymbol found = findBridgeSymbol(library, librarySymbol, f.name, f.arguments);
        names.push_back({f.name, found.address ? found.exportedAs : std::string(), found.misfit});
    }
    return names;
}

} // namespace

bool runBounded(std::function<void()> work, std::chrono::milliseconds bound) {
    struct State {
        std::mutex lock;
        std::condition_variable ended;
        bool done = false;
    };
    auto state = std::make_shared<State>();
    std::thread thread([state, work = std::move(work)] {
        work();
        std::lock_guard<std::mutex> guard(state->lock);
        state->done = true;
        state->ended.notify_all();
    });
    bool done;
    {
        std::unique_lock<std::mutex> guard(state->lock);
        done = state->ended.wait_for(guard, bound, [&state] { return state->done; });
    }
    if (done) thread.join();
    else thread.detach();
    return done;
}

WaitFigures measureWaits(int count, const std::function<void()>& wait) {
    std::vector<double> lengths;
    lengths.reserve(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) {
        const Clock::time_point start = Clock::now();
        wait();
        lengths.push_back(millisecondsSince(start));
    }
    return waitFigures(std::move(lengths));
}

void measureTimerWaits(TimerFacts& timers, int count) {
    HeadlessWaits waits(nullptr);
    timers.pause = measureWaits(count, [&waits] { waits.pumpDelay(1000); });
    WakeWait sleeper;
    timers.sleep = measureWaits(count, [&sleeper] { sleeper.sleepUntil(Clock::now() + std::chrono::milliseconds(1), false); });
}

FolderFacts folderFacts(const std::string& programDir) {
    FolderFacts f;
    f.programFolder = programDir;
    f.programFolderWritable = folderWritable(programDir);
    f.perUserMarker = exists(programDir + "/" + perUserSettingsMarker);
    // As settingsBesideProgram decides, without a second probe.
    const bool beside = f.programFolderWritable && !f.perUserMarker;
    const std::string configFolder = userConfigFolder();
    f.settingsFile = existingSettingsPathFor(programDir, beside, configFolder);
    f.settingsFileExists = exists(f.settingsFile);
    f.writeFolder = beside || configFolder.empty() ? programDir : configFolder;
    f.writeFolderExists = exists(f.writeFolder);
    if (f.writeFolder == programDir) f.writeFolderWritable = f.programFolderWritable;
    else f.writeFolderWritable = f.writeFolderExists ? folderWritable(f.writeFolder) : creatable(f.writeFolder);
    f.logFile = upgradeLogPathBeside(settingsPathIn(f.writeFolder));
    f.logFileExists = exists(f.logFile);
    return f;
}

void checkPortOpen(PortCheck& port, const std::function<int(const std::string&)>& openAndClose,
                   std::chrono::milliseconds bound) {
    struct Attempt {
        int code = 0;
        double milliseconds = 0;
    };
    auto attempt = std::make_shared<Attempt>();
    port.boundMs = static_cast<int>(bound.count());
    const bool returned = runBounded(
        [attempt, device = port.device, openAndClose] {
            const Clock::time_point start = Clock::now();
            attempt->code = openAndClose(device);
            attempt->milliseconds = millisecondsSince(start);
        },
        bound);
    if (!returned) {
        port.open = PortOpen::TimedOut;
        return;
    }
    if (attempt->code == 0) {
        port.open = PortOpen::Opened;
        port.milliseconds = attempt->milliseconds;
        return;
    }
    port.open = openOutcomeOf(attempt->code);
    port.errorCode = attempt->code;
    port.error = openErrorText(attempt->code);
}

BridgeCheck checkBridgeLibrary(const std::string& path, std::chrono::milliseconds bound) {
    BridgeCheck check;
    check.path = path;
    check.programBits = static_cast<int>(sizeof(void*) * 8);
    check.boundMs = static_cast<int>(bound.count());
    check.present = exists(path);
    if (!check.present) return check;
    if (auto start = readFileStart(path, 4096)) check.header = readLibraryHeader(start->data(), start->size());

    // Loading runs the library's own start-up code, and connecting its
    // search for the bridge: either may never return.
    struct Work {
        std::atomic<bool> connecting{false};
        BridgeBinding binding;
        BridgeCheck result;
    };
    auto work = std::make_shared<Work>();
    const bool returned = runBounded(
        [work, path] {
            BridgeBinding& binding = work->binding;
            BridgeCheck& r = work->result;
            r.loaded = binding.load(path);
            const BridgeLoadFailure failure = binding.failure();
            if (!r.loaded) r.loadError = binding.error();
            // Libraries the system loaded: the names their functions have.
            if (r.loaded || failure == BridgeLoadFailure::MissingFunction || failure == BridgeLoadFailure::UnknownConvention)
                r.names = exportedNames(path);
            if (failure == BridgeLoadFailure::UnknownConvention) r.convention = conventionName(binding.convention());
            if (!r.loaded) return;
            work->connecting = true;
            BridgeParams params;
            r.connectTried = true;
            r.connectStatus = lowWord32(binding.connectBridge(params, 1));
            if (r.connectStatus == StatusOk) binding.disconnectBridge(params);
            // The connect is checked for its convention too.
            r.convention = conventionName(binding.convention());
            if (!binding.loaded()) {
                r.loaded = false;
                r.loadError = binding.error();
            }
        },
        bound);
    if (!returned) {
        check.returned = false;
        check.stuckIn = work->connecting ? "connecting" : "loading";
        return check;
    }
    const BridgeCheck& r = work->result;
    check.loaded = r.loaded;
    check.loadError = r.loadError;
    check.names = r.names;
    check.convention = r.convention;
    check.connectTried = r.connectTried;
    check.connectStatus = r.connectStatus;
    return check;
}

int openAndClose(const std::string& device) {
    SerialPortServices& services = systemSerialPortServices();
    SerialHandle handle = noSerialHandle;
    const int code = services.open(device, handle);
    if (code == 0) services.close(handle);
    return code;
}

} // namespace mub::tool
