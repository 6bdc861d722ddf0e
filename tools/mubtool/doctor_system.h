// What the doctor asks the operating system itself (doctor_system_linux.cpp,
// doctor_system_windows.cpp): the system and its timers, the serial ports it
// lists, the exclusive open of the serial channel, the loader's view of a
// library, and the form of the report file.
#pragma once

#include "tools/mubtool/doctor_report.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mub::tool {

SystemFacts systemFacts();

// The timer facts that are asked, not measured (the waits are measured by
// the doctor itself).
TimerFacts systemTimerFacts();

// The serial ports of this computer as the system lists them, those that
// [Ports] of `settingsPath` names and `extra` (device paths, or COMn), each
// once, with what is known without opening any (other programs holding one,
// this user's access).
std::vector<PortCheck> listPorts(const std::vector<std::string>& extra, const std::string& settingsPath);

// Runs services known to take serial ports (Linux), one line of advice each.
std::vector<std::string> portNotes();

// Whether `port` is to be opened: false, with its verdict set, when another
// program has it for itself (Linux, when this is root: an exclusive open of
// another program's that root's open would pass) or when it is known not to
// open (missing; this user may not open it).
bool mayOpen(PortCheck& port);

// Opens `device` as the serial channel does, for this program alone, and
// closes it again: 0, or the system's error code. May block (a Bluetooth
// port connecting): the doctor calls it on a thread of its own.
int openAndClose(const std::string& device);

// What an error code of that open means for the report, and the system's
// text for it (UTF-8).
PortOpen openOutcomeOf(int code);
std::string openErrorText(int code);

// Up to `size` bytes from the start of the file at `path` (UTF-8); none when
// it cannot be read.
std::optional<std::vector<std::uint8_t>> readFileStart(const std::string& path, std::size_t size);

// The library at `path` as the system's loader has it (loaded again, never
// unloaded: its code may have run), and the lookup of an exported name in
// it. Null when it cannot be loaded.
void* loadedLibrary(const std::string& path);
void* librarySymbol(void* library, const char* name);

// The bytes of the report file for the report's UTF-8 text: on Windows a
// text report is GBK with CR LF line ends, as Chinese Windows reads text
// files, and JSON UTF-8 with CR LF; on Linux the text as it is.
std::string reportFileBytes(const std::string& utf8Text, bool json);

} // namespace mub::tool
