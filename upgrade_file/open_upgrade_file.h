// The open command: the operator picks an upgrade file, it is read and
// decoded, the file fields and the UpgradeFile record are filled, and the
// upgrade and model-check buttons are unlocked only when every check passed.
// The path of the last file that opened cleanly is remembered in the
// settings file ([History] FilePath), so the next start opens the dialog in
// its folder.
//
// Runs on the window's thread and reaches the window only through Ui.
#pragma once

#include "platform/ui.h"
#include "upgrade_file/decode_upgrade_file.h"
#include "upgrade_file/file_read_failure.h"
#include "upgrade_file/upgrade_file.h"

#include <atomic>
#include <optional>
#include <string>

namespace mub {

// The history rule: writes `shownPath` to [History] FilePath of the settings
// file when it is not empty and differs from the stored value. Returns false
// only when a needed write failed (the caller does not report it).
bool rememberFilePath(const std::string& settingsPath, const std::string& shownPath);

// Reads a whole file for decoding while holding it exclusively: a file that
// another program holds (open on Windows; locked with flock or a POSIX lock
// on Linux) is tried for about two seconds. No bytes when it cannot be used,
// and the reason in `failure` (when given). `path` is GBK, as the window
// gives it.
Bytes readUpgradeFileBytes(const std::string& path, std::optional<FileReadFailure>* failure = nullptr);

// The same for a path in the file system's own bytes, as a shell gives it.
// The command-line companion reads upgrade files through this, so that it
// accepts and refuses exactly the files the window does.
Bytes readUpgradeFileBytesAt(const std::string& systemPath, std::optional<FileReadFailure>* failure = nullptr);

// An upgrade file as read: the record (loaded when every check passed; the
// MD5 of its bytes when any came) and why not: either its bytes could not
// be had (`readFailure`) or they did not decode (`failure`).
struct UpgradeFileRead {
    UpgradeFile file;
    std::optional<FileReadFailure> readFailure;
    std::optional<DecodeFailure> failure;

    bool ok() const { return file.loaded; }
    // The error box's text (GBK) when it is not loaded.
    const std::string& failureText() const;
    // The word for scripts and the upgrade log when it is not loaded: a
    // reason of file_read_failure.h, or "file-failure" for bytes that do
    // not decode.
    const char* failureOutcome() const;
};

// The record of a file's bytes, decoded, with the path it was read from.
UpgradeFileRead upgradeFileFrom(const Bytes& fileBytes, std::string path);

// Reads and decodes the file at `systemPath` (the file system's own bytes,
// as a shell gives it), as the window's open command does.
UpgradeFileRead readUpgradeFileAt(const std::string& systemPath);

class UpgradeFileOpener {
public:
    // `running` is the flag of the upgrade run and the model check
    // (MachineLink::running); all references must outlive the opener.
    UpgradeFileOpener(Ui& ui, UpgradeFile& file, const std::atomic<bool>& running, std::string settingsPath);

    enum class Outcome {
        Refused,   // a run, a model check or another open is in progress: nothing done
        Cancelled, // the operator closed the dialog: nothing changed
        Failed,    // the file was rejected; no file is loaded any more
        Loaded,    // the file passed every check and is loaded
    };

    // The open command (button 打开文件 and menu 文件 > 打开).
    Outcome openUpgradeFile();

    // True while an open is between the dialog and its end.
    bool inProgress() const { return inProgress_.load(); }

private:
    Outcome checkAndLoad(const std::string& path);

    Ui& ui_;
    UpgradeFile& file_;
    const std::atomic<bool>& running_;
    const std::string settingsPath_;
    std::atomic<bool> inProgress_{false};
};

} // namespace mub
