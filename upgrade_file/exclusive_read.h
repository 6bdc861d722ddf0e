// Reading a whole upgrade file while no other program may use it; one
// implementation per operating system. Internal to the upgrade-file library.
#pragma once

#include "upgrade_file/upgrade_file.h"

#include <string>

namespace mub {

class Ui;

// Opens the file at `systemPath` (UTF-8) so that no other program can use it
// until it has been read, pauses one millisecond with `ui` (when given) to
// let the window run, then reads it whole. No bytes when the file is
// missing, held by another program, unreadable, empty, not a regular file or
// too large for memory.
Bytes readExclusively(const std::string& systemPath, Ui* ui);

} // namespace mub
