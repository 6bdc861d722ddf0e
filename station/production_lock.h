// Production mode: the engineer chooses the upgrade file, the ports and the
// options and locks them with a password; the operator can then only start,
// stop and reset the totals, and the station takes only an upgrade file
// whose MD5 (of the whole .mub file, the log's file_md5) is on the
// engineer's approved list.
//
// Kept in [Production] of station.ini: Locked=1, Salt and Hash (PBKDF2 of
// the password, never the password itself), Approved (the MD5s, separated
// by commas). The lock guards the window's controls and the command line
// against a mistake at the line; keeping station.ini from being edited is
// for the folder's permissions.
#pragma once

#include <string>
#include <vector>

namespace mub {

class ProductionLock {
public:
    // Reads [Production] of `settingsPath` (nothing there: unlocked).
    void load(const std::string& settingsPath);

    bool locked() const { return locked_; }
    bool hasPassword() const { return !hash_.empty(); }
    // Locks with `password` (a new salt and hash written, the approved list
    // with them). False with `error` (GBK) when the password is empty or
    // station.ini cannot be written; nothing changes then.
    bool lockWith(const std::string& password, const std::vector<std::string>& approved, std::string& error);
    // True, and unlocked until relock(), when `password` is the one locked
    // with.
    bool unlock(const std::string& password);
    // Locked again with the stored password.
    bool relock(std::string& error);

    const std::vector<std::string>& approved() const { return approved_; }
    // In production mode only an approved file (its MD5, any case); any file
    // when unlocked.
    bool takes(const std::string& fileMd5) const;

private:
    bool write(bool locked, std::string& error);

    std::string path_;
    bool locked_ = false;
    std::string salt_, hash_;
    std::vector<std::string> approved_;
};

// An approved-files list: one MD5 (32 hex digits, any case) a line; blank
// lines and from '#' on are ignored. False with `error` naming the first bad
// line (1-based) otherwise. The MD5s come out in lowercase.
bool readApprovedList(const std::string& text, std::vector<std::string>& out, std::string& error);

} // namespace mub
