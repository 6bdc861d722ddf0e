// An exclusive lock on a file of its own (a lock file beside the data it
// guards), tried without waiting: a program that finds it taken leaves the
// work to the holder. Held until the object goes; a program that dies
// loses it with its handles. Threads of one program that each take it
// exclude each other as programs do.
#pragma once

#include <memory>
#include <string>

namespace mub {

class FileLock {
public:
    enum class Result {
        Taken,  // this object holds the lock
        Busy,   // another holds it
        Failed, // the lock file cannot be opened; `error` (UTF-8) says why
    };

    FileLock();
    ~FileLock(); // releases the lock
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Creates the file at `path` (UTF-8) when it is missing.
    Result tryLock(const std::string& path, std::string& error);
    bool held() const;

private:
    struct System;
    std::unique_ptr<System> system_;
};

} // namespace mub
