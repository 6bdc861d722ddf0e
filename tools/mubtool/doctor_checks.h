// The checks of `mubtool doctor` that are the same on every system: timed
// waits, the settings folders, the opens of the serial ports (each bounded,
// on a thread of its own) and the bridge library through the binding.
#pragma once

#include "tools/mubtool/doctor_report.h"

#include <chrono>
#include <functional>
#include <string>

namespace mub::tool {

// Runs `work` on a thread of its own and waits for it up to `bound`: true
// when it ended in time. A thread still running then is left to end on its
// own and is never waited for: what it uses it must own (shared state), and
// the caller reads nothing of it afterwards.
bool runBounded(std::function<void()> work, std::chrono::milliseconds bound);

// `count` waits of `wait`, each timed on the steady clock.
WaitFigures measureWaits(int count, const std::function<void()>& wait);

// The link's 1 ms pause (the waits of mubtool's headless runs) and the
// wake wait's 1 ms sleep alone, `count` times each, into `timers`.
void measureTimerWaits(TimerFacts& timers, int count);

// The settings and log folders of the program in `programDir` as the
// programs find them, found without making anything; the write checks
// are folderWritable's (on Windows a probe file made and removed).
FolderFacts folderFacts(const std::string& programDir);

// Opens and closes `port.device` with `openAndClose` (0 or the system's
// error code) on a thread of its own, waiting up to `bound`; fills the
// verdict, the error and the time taken.
void checkPortOpen(PortCheck& port, const std::function<int(const std::string&)>& openAndClose,
                   std::chrono::milliseconds bound);

// The bridge library at `path`: its header, then, on a thread of its own
// waited for up to `bound`, a load through the binding, the names its six
// functions are exported under and a connect attempt (disconnected again
// when it connects).
BridgeCheck checkBridgeLibrary(const std::string& path, std::chrono::milliseconds bound);

} // namespace mub::tool
