#include "link/machine_link.h"

#include <algorithm>

namespace mub {

namespace {

// Bridge time-outs are 20 ms per byte (truncated to 32 bits).
std::uint32_t perByteTimeout(std::int64_t bytes) { return static_cast<std::uint32_t>(bytes * 20); }

// The bridge reports the bytes read in the low 16 bits of its counter, signed.
std::int32_t counterValue(std::uint32_t counter) { return static_cast<std::int16_t>(counter & 0xFFFFu); }

constexpr std::int32_t pollMicros = 1000;
constexpr int idlePassLimit = 20; // gives up on the 21st pass with nothing new
// The longest valid frame: 255 payload bytes, header, length and checksum.
// A framed read that has gathered more holds no valid reply and ends.
constexpr std::size_t longestFrame = 255 + 5;
// What the receive buffer keeps of a machine that streams while nobody reads
// (during a tone or a question): the newest bytes, far more than any reply.
constexpr std::size_t receiveBufferLimit = 4096;

} // namespace

MachineLink::MachineLink(Ui& ui, SerialChannel& serial, BridgeLibrary* bridge, bool usbMode)
    : ui_(ui), serial_(serial), bridge_(bridge), usbMode_(usbMode) {}

// The channel usually outlives the link (it is declared first); without this
// its listener could still deliver to a link that is gone.
MachineLink::~MachineLink() { serial_.close(); }

std::uint32_t MachineLink::linkStatus() const {
    std::lock_guard<std::mutex> guard(lock_);
    return linkStatus_;
}

void MachineLink::setLinkStatus(std::uint32_t status) {
    std::lock_guard<std::mutex> guard(lock_);
    linkStatus_ = status;
}

std::uint32_t MachineLink::writePacket(const Bytes& data) {
    if (usbMode_) {
        if (!bridge_) return StatusNoDevice;
        bridgeParams_.words[3] = perByteTimeout(static_cast<std::int64_t>(data.size()));
        std::uint32_t written = 0;
        const std::uint8_t* bytes = data.empty() ? nullptr : data.data();
        return lowWord32(bridge_->writeData(bridgeParams_, bytes, static_cast<int>(data.size()), &written));
    }
    // Anything still queued belongs to an earlier exchange: drop it before the
    // request so the reply read next is the answer to this one. The buffer is
    // emptied once the purge is through: a delivery of old bytes that was in
    // progress when the purge began ends inside it, and would otherwise fill
    // an already emptied buffer.
    serial_.purge(true, true);
    {
        std::lock_guard<std::mutex> guard(lock_);
        receiveBuffer_.clear();
    }
    if (!serial_.send(data.data(), static_cast<std::int32_t>(data.size()))) return StatusNoDevice;
    return linkStatus();
}

Bytes MachineLink::readPacket(std::int32_t count, bool raw) {
    return usbMode_ ? readUsb(count, raw) : readCom(count, raw);
}

Bytes MachineLink::readUsb(std::int32_t count, bool raw) {
    if (!bridge_) return {};
    if (raw) {
        std::size_t size = count > 0 ? static_cast<std::size_t>(count) : 0;
        bridgeParams_.words[2] = perByteTimeout(count);
        Bytes buffer(size, 0);
        std::uint32_t counter = 0;
        bridge_->readData(bridgeParams_, size ? buffer.data() : nullptr, static_cast<int>(size), &counter);
        std::int32_t n = counterValue(counter);
        if (n <= 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) buffer.resize(static_cast<std::size_t>(n));
        return buffer;
    }
    // Framed: the 3-byte header first, then the length byte tells the rest.
    bridgeParams_.words[2] = 60;
    Bytes header(3, 0);
    std::uint32_t counter = 0;
    bridge_->readData(bridgeParams_, header.data(), 3, &counter);
    if (counterValue(counter) < 3) return {};
    std::size_t rest = std::size_t{header[2]} + 2;
    bridgeParams_.words[2] = perByteTimeout(static_cast<std::int64_t>(rest));
    Bytes body(rest, 0);
    counter = 0;
    bridge_->readData(bridgeParams_, body.data(), static_cast<int>(rest), &counter);
    // Missing bytes stay zero; checkFrame rejects such a reply.
    header.insert(header.end(), body.begin(), body.end());
    return header;
}

Bytes MachineLink::readCom(std::int32_t count, bool raw) {
    const std::int64_t target = raw ? count : 0; // 0: until a line end
    // A read made for a running operation ends once Stop clears the flag.
    const bool stoppable = running.load();
    int idlePasses = 0;
    std::size_t previousLength = 0;
    for (;;) {
        bool wakePending = false;
        {
            std::lock_guard<std::mutex> guard(lock_);
            wakePending = arrivals_ != arrivalsAtWaitEnd_;
        }
        ui_.pumpWait(pollMicros);
        std::lock_guard<std::mutex> guard(lock_);
        arrivalsAtWaitEnd_ = arrivals_;
        const std::size_t length = receiveBuffer_.size();
        bool done = false;
        if (stoppable && !running.load()) {
            done = true;
        } else if (target == 0) {
            done = (length >= 2 && receiveBuffer_[length - 2] == 0x0D && receiveBuffer_[length - 1] == 0x0A) ||
                   length > longestFrame;
        } else {
            done = static_cast<std::int64_t>(length) >= target;
        }
        if (!done) {
            const bool grew = length != previousLength;
            if (grew) {
                idlePasses = 0;
                previousLength = length;
            }
            // A wait that a stale wake may have cut short is not a full pass
            // of 1 ms; it is simply repeated.
            if (grew || !wakePending) ++idlePasses;
            done = idlePasses > idlePassLimit;
        }
        if (done) {
            // The port's input queue is deliberately not purged here: a reply
            // that arrives in this instant must reach the next read.
            Bytes result;
            result.swap(receiveBuffer_);
            return result;
        }
    }
}

void MachineLink::closeTransport() {
    if (usbMode_ && bridge_) bridge_->disconnectBridge(bridgeParams_);
    serial_.close();
}

void MachineLink::onSerialData(const std::uint8_t* bytes, std::int32_t count) {
    if (count <= 0 || !bytes) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        receiveBuffer_.insert(receiveBuffer_.end(), bytes, bytes + count);
        if (receiveBuffer_.size() > receiveBufferLimit)
            receiveBuffer_.erase(receiveBuffer_.begin(),
                                 receiveBuffer_.end() - static_cast<std::ptrdiff_t>(receiveBufferLimit));
        ++arrivals_;
    }
    ui_.wake();
}

void MachineLink::onSerialStatus(std::int32_t, std::int32_t, std::int32_t errorBits, std::int32_t) {
    if (errorBits > 0) setLinkStatus(static_cast<std::uint32_t>(errorBits));
}

void MachineLink::onSerialError(const std::string&) { setLinkStatus(StatusNoDevice); }

} // namespace mub
