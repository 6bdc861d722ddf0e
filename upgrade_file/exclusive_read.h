// Reading a whole upgrade file while no other program may use it; one
// implementation per operating system. Internal to the upgrade-file library.
#pragma once

#include "upgrade_file/file_read_failure.h"
#include "upgrade_file/upgrade_file.h"

#include <optional>
#include <string>

namespace mub {

class Ui;

struct ExclusiveRead {
    Bytes bytes;
    std::optional<FileReadFailure> failure; // set when no bytes came
};

// No bytes, for `failure`; with `ui`, after the one-millisecond pause that
// every open is followed by.
ExclusiveRead readFailed(FileReadFailure failure, Ui* ui = nullptr);

// Opens the file at `systemPath` (UTF-8) so that no other program can use it
// until it has been read, pauses one millisecond with `ui` (when given) to
// let the window run, then reads it whole. No bytes, and the reason, when it
// cannot be used; a file larger than maxUpgradeFileBytes is refused before
// anything is read. A file another program holds (open on Windows, where
// a virus scanner or Explorer's preview opens a new file for a moment;
// locked on Linux) is tried again for about two seconds, pausing with `ui`
// (else sleeping), before it counts as in use.
ExclusiveRead readExclusively(const std::string& systemPath, Ui* ui);

// Between two tries at a held file.
inline constexpr int heldFilePauseMs = 100;
inline constexpr int heldFileAttempts = 20;

// Pauses between two tries: with the window alive when there is one.
void pauseBeforeRetry(Ui* ui);

} // namespace mub
