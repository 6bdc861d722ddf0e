#include "link/bridge_transport.h"

#include "link/bridge_search.h"

namespace mub {
namespace {

// Bridge time-outs are 20 ms per byte (truncated to 32 bits).
std::uint32_t perByteTimeout(std::int64_t bytes) { return static_cast<std::uint32_t>(bytes * 20); }

// The bridge reports the bytes read in the low 16 bits of its counter, signed.
std::int32_t counterValue(std::uint32_t counter) { return static_cast<std::int16_t>(counter & 0xFFFFu); }

constexpr std::uint32_t headerTimeout = 60; // the 3 bytes before a frame's payload

} // namespace

BridgeTransport::BridgeTransport(BridgeLibrary* bridge) : bridge_(bridge) {}

void BridgeTransport::useBaudRate(int baudIndex) {
    modeRecord_[1] = static_cast<std::uint8_t>(baudIndex & 0xFF);
}

std::uint32_t BridgeTransport::open(std::int32_t, const std::atomic<bool>&) {
    if (!bridge_) return StatusNoDevice;
    const std::uint32_t result = lowWord32(bridge_->connectBridge(params_, 1));
    bridge_->clearDevBuffer(params_);
    return result;
}

void BridgeTransport::setMode() {
    if (bridge_) bridge_->setMode(params_, modeRecord_, 4);
}

void BridgeTransport::clear() {
    if (bridge_) bridge_->clearDevBuffer(params_);
}

std::uint32_t BridgeTransport::write(const Bytes& data) {
    if (!bridge_) return StatusNoDevice;
    params_.words[3] = perByteTimeout(static_cast<std::int64_t>(data.size()));
    std::uint32_t written = 0;
    const std::uint8_t* bytes = data.empty() ? nullptr : data.data();
    return lowWord32(bridge_->writeData(params_, bytes, static_cast<int>(data.size()), &written));
}

Bytes BridgeTransport::read(std::int32_t count, bool raw, const std::atomic<bool>&) {
    if (!bridge_) return {};
    if (raw) {
        std::size_t size = count > 0 ? static_cast<std::size_t>(count) : 0;
        params_.words[2] = perByteTimeout(count);
        Bytes buffer(size, 0);
        std::uint32_t counter = 0;
        bridge_->readData(params_, size ? buffer.data() : nullptr, static_cast<int>(size), &counter);
        std::int32_t n = counterValue(counter);
        if (n <= 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) buffer.resize(static_cast<std::size_t>(n));
        return buffer;
    }
    // Framed: the 3-byte header first, then the length byte tells the rest.
    params_.words[2] = headerTimeout;
    Bytes header(3, 0);
    std::uint32_t counter = 0;
    bridge_->readData(params_, header.data(), 3, &counter);
    if (counterValue(counter) < 3) return {};
    std::size_t rest = std::size_t{header[2]} + 2;
    params_.words[2] = perByteTimeout(static_cast<std::int64_t>(rest));
    Bytes body(rest, 0);
    counter = 0;
    bridge_->readData(params_, body.data(), static_cast<int>(rest), &counter);
    // Missing bytes stay zero; checkFrame rejects such a reply.
    header.insert(header.end(), body.begin(), body.end());
    return header;
}

void BridgeTransport::close() {
    if (bridge_) bridge_->disconnectBridge(params_);
}

std::uint32_t BridgeTransport::status() const {
    std::lock_guard<std::mutex> guard(statusLock_);
    return status_;
}

void BridgeTransport::setStatus(std::uint32_t status) {
    std::lock_guard<std::mutex> guard(statusLock_);
    status_ = status;
}

std::unique_ptr<MachineSearch> BridgeTransport::newSearch(SearchHost& host) {
    return std::make_unique<BridgeSearch>(*this, host);
}

} // namespace mub
