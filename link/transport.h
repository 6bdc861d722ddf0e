// How the link reaches the machine: a COM port through the serial channel,
// or the USB bridge library. Connecting, upgrading and the model check open,
// clear, write, read and close either one the same way; the one difference
// they meet, how the machine is found, the transport hands them as its
// search.
#pragma once

#include "link/frame.h"
#include "platform/bridge_library.h" // the status codes (StatusOk, StatusNoDevice, ...)
#include "platform/waits.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace mub {

class MachineSearch;
class SearchHost;

class Transport {
public:
    virtual ~Transport() = default;

    // The baud-rate item (an index into link/baud_rates.h, -1 for none),
    // taken at the start of every connection.
    virtual void useBaudRate(int baudIndex) = 0;
    // Opens the way to the machine: COM port `port`, or the bridge's one
    // device (which takes no number). StatusOk, or why not. An open that
    // blocks waits while the window handles its events and is given up once
    // `running` is cleared.
    virtual std::uint32_t open(std::int32_t port, const std::atomic<bool>& running) = 0;
    // Discards what the machine sent that was not read yet.
    virtual void clear() = 0;
    // Sends all bytes; 0 on success.
    virtual std::uint32_t write(const Bytes& data) = 0;
    // raw: `count` bytes (fewer when they do not come; over COM also more);
    // framed (raw false): one framed reply, count ignored. Empty: nothing
    // came. A read made while `running` is set ends early once it is cleared.
    virtual Bytes read(std::int32_t count, bool raw, const std::atomic<bool>& running) = 0;
    // waits.pumpDelay(pauseMicroseconds) and then read, in effect (the poll
    // pause before a reply). A transport whose reads sleep until the bytes
    // come sleeps through the pause as well.
    virtual Bytes readAfterPause(Waits& waits, std::int32_t pauseMicroseconds, std::int32_t count, bool raw,
                                 const std::atomic<bool>& running) {
        waits.pumpDelay(pauseMicroseconds);
        return read(count, raw, running);
    }
    // Ends a run or a check. Harmless when nothing is open, and when repeated.
    virtual void close() = 0;

    // The status of the last link operation (0 success, StatusNoDevice, ...);
    // the serial channel's handlers set it too.
    virtual std::uint32_t status() const = 0;
    virtual void setStatus(std::uint32_t status) = 0;
    // The port's own words (GBK) for the last failure it told since it was
    // opened (a driver that stopped answering, a write cut short), for the
    // operator beside the run's message; empty when it told none.
    virtual std::string fault() const { return {}; }

    // How connectMachine finds the machine on this transport, for one call.
    virtual std::unique_ptr<MachineSearch> newSearch(SearchHost& host) = 0;
};

} // namespace mub
