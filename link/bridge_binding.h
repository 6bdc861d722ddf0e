// The bridge library loaded at run time: the six functions are looked up in
// the shared library beside the program (or at a given path) and offered as
// a BridgeLibrary.
#pragma once

#include "platform/bridge_library.h"

#include <string>

namespace mub {

// The platform's file name of the bridge library: "libBridgeMini.so" on
// Linux, "BridgeMini.dll" on Windows.
const char* bridgeLibraryFileName();

// The directory of the running program, with a trailing '/'; empty when it
// cannot be found.
std::string programDirectory();

// Where the binding looks by default: the library file beside the program.
std::string defaultBridgeLibraryPath();

class BridgeBinding : public BridgeLibrary {
public:
    BridgeBinding() = default;
    ~BridgeBinding() override;
    BridgeBinding(const BridgeBinding&) = delete;
    BridgeBinding& operator=(const BridgeBinding&) = delete;

    // Loads the library at `path` (empty: defaultBridgeLibraryPath()). False
    // when the file cannot be loaded or lacks one of the six functions;
    // error() then tells which (UTF-8, for logs and terminals).
    bool load(const std::string& path = {});
    bool loaded() const { return handle_ != nullptr; }
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

    // Every operation answers StatusNoDevice while nothing is loaded.
    std::int64_t connectBridge(BridgeParams& params, int mode) override;
    std::int64_t setMode(BridgeParams& params, const std::uint8_t* record, int length) override;
    std::int64_t clearDevBuffer(BridgeParams& params) override;
    std::int64_t writeData(BridgeParams& params, const std::uint8_t* data, int length, std::uint32_t* written) override;
    std::int64_t readData(BridgeParams& params, std::uint8_t* buffer, int length, std::uint32_t* read) override;
    std::int64_t disconnectBridge(BridgeParams& params) override;

private:
    void unload();
    // Looks the six functions up in `library` with the system's `symbol`;
    // false, with the first missing name in error(), when one is missing.
    bool bindFunctions(void* library, void* (*symbol)(void* library, const char* name));

    void* handle_ = nullptr;
    std::string error_;
    std::string path_;
    struct Functions;
    Functions* fn_ = nullptr;
};

} // namespace mub
