// The bridge library loaded at run time: the six functions are looked up in
// the shared library beside the program (or at a given path) and offered as
// a BridgeLibrary.
//
// The vendor's library comes without a header, so how it was built is not
// known: on 32-bit Windows its functions may expect either calling
// convention and be exported under plain or decorated names. The binding
// finds each function under any of its names and, on 32-bit Windows, calls
// through a thunk that restores the stack whichever convention the callee
// follows; it learns the convention from what the callee removed from the
// stack and refuses a library that follows neither.
#pragma once

#include "platform/bridge_library.h"

#include <cstdint>
#include <string>

namespace mub {

struct BridgeCallResult;

// The platform's file name of the bridge library: "libBridgeMini.so" on
// Linux, "BridgeMini.dll" on Windows.
const char* bridgeLibraryFileName();

// The directory of the running program, with a trailing separator; empty
// when it cannot be found.
std::string programDirectory();

// Where the binding looks by default: the library file beside the program.
std::string defaultBridgeLibraryPath();

// Why a bridge library cannot be used.
enum class BridgeLoadFailure {
    None,
    NotFound,          // no file at the path
    WrongBitness,      // a library for programs of the other width (32/64-bit)
    NotALibrary,       // the file is not a library this system can load
    MissingDependency, // a library it needs is missing
    MissingFunction,   // one of the six functions is exported under none of its names
    UnknownConvention, // a call removed neither none nor all of its arguments from the stack
    Other,             // any other refusal of the system's loader
};

// How the functions of a library expect their arguments to be removed.
enum class BridgeConvention {
    Platform, // the platform has one convention (64-bit, Linux): nothing to tell
    Cdecl,    // the caller removes them
    Stdcall,  // the callee removes them
    Unknown,  // the callee removed some other number of bytes
};

// The convention a call followed: it removed `removedBytes` of its
// `argumentCount` four-byte arguments.
BridgeConvention conventionOfCall(std::uint32_t removedBytes, int argumentCount);
const char* conventionName(BridgeConvention convention);

// A bridge function as the library exports it.
struct BridgeSymbol {
    void* address = nullptr;
    std::string exportedAs; // the name it was found under
    // When it was not found: a decorated name with another argument size
    // that the library does export ("_MA101_WriteData@12"); else empty.
    std::string misfit;
};

// Looks `name`, a function of `argumentCount` four-byte arguments, up with
// the system's `symbol`: under its plain name, then as "_name@N", then as
// "name@N", N being the argument bytes. A decorated name with another N is
// not taken; it is reported in `misfit`.
BridgeSymbol findBridgeSymbol(void* library, void* (*symbol)(void* library, const char* name), const char* name,
                              int argumentCount);

class BridgeBinding : public BridgeLibrary {
public:
    BridgeBinding() = default;
    // The library stays loaded: a vendor library may run threads of its own
    // that would crash in unloaded code; the process's end releases it.
    ~BridgeBinding() override;
    BridgeBinding(const BridgeBinding&) = delete;
    BridgeBinding& operator=(const BridgeBinding&) = delete;

    // Loads the library at `path` (empty: defaultBridgeLibraryPath()) and
    // binds the six functions. On 32-bit Windows it then calls
    // MA101_DisconnectBridge once on a block of its own (harmless without a
    // connection) to learn the convention, which it reports once through
    // diagnosticLine. False when the library cannot be used; failure(),
    // error() and operatorText() then tell why.
    bool load(const std::string& path = {});
    bool loaded() const { return fn_ != nullptr; }
    BridgeLoadFailure failure() const { return failure_; }
    // For logs and terminals: what failed, with the path (UTF-8, English).
    const std::string& error() const { return error_; }
    // For the operator's error box: the reason and what to do (GBK).
    const std::string& operatorText() const { return operatorText_; }
    const std::string& path() const { return path_; }
    BridgeConvention convention() const { return convention_; }

    // Every operation answers StatusNoDevice while nothing is loaded (or the
    // library was refused after a call), disconnect StatusOk.
    std::int64_t connectBridge(BridgeParams& params, int mode) override;
    std::int64_t setMode(BridgeParams& params, const std::uint8_t* record, int length) override;
    std::int64_t clearDevBuffer(BridgeParams& params) override;
    std::int64_t writeData(BridgeParams& params, const std::uint8_t* data, int length, std::uint32_t* written) override;
    std::int64_t readData(BridgeParams& params, std::uint8_t* buffer, int length, std::uint32_t* read) override;
    std::int64_t disconnectBridge(BridgeParams& params) override;

private:
    struct Functions;

    void start(const std::string& path);
    void fail(BridgeLoadFailure kind, std::string error, const std::string& operatorUtf8);
    // Looks the six functions up in `library` with the system's `symbol`;
    // false, with the failure set, when one is missing.
    bool bindFunctions(void* library, void* (*symbol)(void* library, const char* name));
    // Learns the convention where calls are measured; false when the
    // library follows none (it stays loaded: its code has run).
    bool settleConvention();
    // The status of a call; a call that removed a wrong number of bytes
    // refuses the library from then on.
    std::uint32_t checked(const char* name, int argumentCount, const BridgeCallResult& result);
    std::string fileName() const;

    Functions* fn_ = nullptr;
    BridgeLoadFailure failure_ = BridgeLoadFailure::None;
    BridgeConvention convention_ = BridgeConvention::Platform;
    std::string error_;
    std::string operatorText_;
    std::string path_;
};

} // namespace mub
