#include "link/bridge_binding.h"

#include "link/bridge_functions.h"
#include "platform/diagnostic_log.h"
#include "platform/gbk_text.h"

#include <string>

namespace mub {

namespace {

// Argument counts of the six functions.
constexpr int connectArguments = 2;
constexpr int setModeArguments = 3;
constexpr int clearArguments = 1;
constexpr int writeArguments = 4;
constexpr int readArguments = 4;
constexpr int disconnectArguments = 1;

// Decorated names carry the bytes of the arguments, four for each one on
// 32-bit; sizes up to this many are looked for when the right one is missing.
constexpr int largestDecoratedBytes = 64;

} // namespace

BridgeConvention conventionOfCall(std::uint32_t removedBytes, int argumentCount) {
    if (removedBytes == 0) return BridgeConvention::Cdecl;
    if (removedBytes == 4u * static_cast<std::uint32_t>(argumentCount)) return BridgeConvention::Stdcall;
    return BridgeConvention::Unknown;
}

const char* conventionName(BridgeConvention convention) {
    switch (convention) {
    case BridgeConvention::Platform: return "the platform's own";
    case BridgeConvention::Cdecl: return "cdecl";
    case BridgeConvention::Stdcall: return "stdcall";
    case BridgeConvention::Unknown: break;
    }
    return "unknown";
}

BridgeSymbol findBridgeSymbol(void* library, void* (*symbol)(void*, const char*), const char* name,
                              int argumentCount) {
    BridgeSymbol found;
    const std::string plain = name;
    const int bytes = 4 * argumentCount;
    for (const std::string& candidate :
         {plain, "_" + plain + "@" + std::to_string(bytes), plain + "@" + std::to_string(bytes)}) {
        if (void* address = symbol(library, candidate.c_str())) {
            found.address = address;
            found.exportedAs = candidate;
            return found;
        }
    }
    for (int other = 0; other <= largestDecoratedBytes && found.misfit.empty(); other += 4) {
        if (other == bytes) continue;
        for (const std::string& candidate :
             {"_" + plain + "@" + std::to_string(other), plain + "@" + std::to_string(other)})
            if (symbol(library, candidate.c_str())) {
                found.misfit = candidate;
                break;
            }
    }
    return found;
}

BridgeBinding::~BridgeBinding() { delete fn_; }

std::string BridgeBinding::fileName() const {
    const std::size_t slash = path_.find_last_of("/\\");
    return slash == std::string::npos ? path_ : path_.substr(slash + 1);
}

void BridgeBinding::start(const std::string& path) {
    // A library loaded before stays loaded (see the destructor); only the
    // binding forgets it.
    delete fn_;
    fn_ = nullptr;
    failure_ = BridgeLoadFailure::None;
    convention_ = BridgeConvention::Platform;
    error_.clear();
    operatorText_.clear();
    path_ = path.empty() ? defaultBridgeLibraryPath() : path;
}

void BridgeBinding::fail(BridgeLoadFailure kind, std::string error, const std::string& operatorUtf8) {
    failure_ = kind;
    error_ = std::move(error);
    operatorText_ = gbk(operatorUtf8);
}

bool BridgeBinding::bindFunctions(void* library, void* (*symbol)(void*, const char*)) {
    auto* fn = new Functions;
    struct Entry {
        const char* name;
        int arguments;
        void*& slot;
    };
    const Entry entries[] = {
        {BRIDGE_FN_CONNECT, connectArguments, fn->connect}, {BRIDGE_FN_SET_MODE, setModeArguments, fn->setMode},
        {BRIDGE_FN_CLEAR, clearArguments, fn->clear},       {BRIDGE_FN_WRITE, writeArguments, fn->write},
        {BRIDGE_FN_READ, readArguments, fn->read},          {BRIDGE_FN_DISCONNECT, disconnectArguments, fn->disconnect},
    };
    for (const Entry& entry : entries) {
        const BridgeSymbol found = findBridgeSymbol(library, symbol, entry.name, entry.arguments);
        if (found.address) {
            entry.slot = found.address;
            continue;
        }
        const std::string bytes = std::to_string(4 * entry.arguments);
        if (found.misfit.empty()) {
            fail(BridgeLoadFailure::MissingFunction, std::string("bridge library lacks the function ") + entry.name,
                 fileName() + "中缺少函数" + entry.name + "。\r\n请确认这是本机器所用的USB桥接库。");
        } else {
            fail(BridgeLoadFailure::MissingFunction,
                 std::string("bridge library lacks the function ") + entry.name + ": it exports " + found.misfit +
                     ", whose arguments are not the " + bytes + " bytes the bridge passes",
                 fileName() + "中缺少函数" + entry.name + "：库中的" + found.misfit + "的参数不是" + bytes +
                     "字节。\r\n请确认这是本机器所用的USB桥接库。");
        }
        delete fn;
        return false;
    }
    fn_ = fn;
    return true;
}

bool BridgeBinding::settleConvention() {
    // A block of its own: the library may keep state in it.
    BridgeParams scratch;
    const BridgeCallResult probe = callBridge(fn_->disconnect, scratch.words);
    if (!probe.removedBytes) return true; // one convention on this platform
    checked(BRIDGE_FN_DISCONNECT, disconnectArguments, probe);
    if (!fn_) return false;
    convention_ = conventionOfCall(*probe.removedBytes, disconnectArguments);
    diagnosticLine("bridge library " + path_ + ": calling convention " + conventionName(convention_));
    return true;
}

std::uint32_t BridgeBinding::checked(const char* name, int argumentCount, const BridgeCallResult& result) {
    if (!result.removedBytes || conventionOfCall(*result.removedBytes, argumentCount) != BridgeConvention::Unknown)
        return result.status;
    const std::string removed = std::to_string(*result.removedBytes);
    const std::string whole = std::to_string(4 * argumentCount);
    convention_ = BridgeConvention::Unknown;
    fail(BridgeLoadFailure::UnknownConvention,
         "bridge library " + path_ + ": unknown calling convention: " + name + " removed " + removed +
             " bytes of its " + whole + " bytes of arguments from the stack (0 or " + whole + " expected)",
         fileName() + "的调用约定无法识别：函数" + name + "从栈上移除了" + removed + "字节（应为0或" + whole +
             "字节）。\r\n程序不能使用这个库，请向USB桥接库的供应商索取标准版本。");
    diagnosticLine(error_);
    delete fn_;
    fn_ = nullptr;
    return result.status;
}

std::int64_t BridgeBinding::connectBridge(BridgeParams& params, int mode) {
    if (!fn_) return StatusNoDevice;
    return checked(BRIDGE_FN_CONNECT, connectArguments,
                   callBridge(fn_->connect, params.words, static_cast<std::int32_t>(mode)));
}

std::int64_t BridgeBinding::setMode(BridgeParams& params, const std::uint8_t* record, int length) {
    if (!fn_) return StatusNoDevice;
    return checked(BRIDGE_FN_SET_MODE, setModeArguments,
                   callBridge(fn_->setMode, params.words, record, static_cast<std::int32_t>(length)));
}

std::int64_t BridgeBinding::clearDevBuffer(BridgeParams& params) {
    if (!fn_) return StatusNoDevice;
    return checked(BRIDGE_FN_CLEAR, clearArguments, callBridge(fn_->clear, params.words));
}

std::int64_t BridgeBinding::writeData(BridgeParams& params, const std::uint8_t* data, int length,
                                      std::uint32_t* written) {
    if (!fn_) return StatusNoDevice;
    return checked(BRIDGE_FN_WRITE, writeArguments,
                   callBridge(fn_->write, params.words, data, static_cast<std::int32_t>(length), written));
}

std::int64_t BridgeBinding::readData(BridgeParams& params, std::uint8_t* buffer, int length, std::uint32_t* read) {
    if (!fn_) return StatusNoDevice;
    return checked(BRIDGE_FN_READ, readArguments,
                   callBridge(fn_->read, params.words, buffer, static_cast<std::int32_t>(length), read));
}

std::int64_t BridgeBinding::disconnectBridge(BridgeParams& params) {
    if (!fn_) return StatusOk;
    return checked(BRIDGE_FN_DISCONNECT, disconnectArguments, callBridge(fn_->disconnect, params.words));
}

} // namespace mub
