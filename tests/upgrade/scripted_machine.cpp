#include "tests/upgrade/scripted_machine.h"

#include <algorithm>

namespace mub::test {

bool ScriptedMachine::wellFormed(const Bytes& packet) {
    if (packet.size() != 133 || packet[0] != 0x01 || packet[1] + packet[2] != 255) return false;
    const auto sum = checksum16(packet.data() + 3, 128);
    return packet[131] == sum / 256 && packet[132] == sum % 256;
}

std::int64_t ScriptedMachine::connectBridge(BridgeParams&, int) { return connectStatus; }

std::int64_t ScriptedMachine::setMode(BridgeParams&, const std::uint8_t*, int) { return StatusOk; }

std::int64_t ScriptedMachine::clearDevBuffer(BridgeParams&) {
    ++clearCalls;
    pending_.clear();
    return StatusOk;
}

std::int64_t ScriptedMachine::disconnectBridge(BridgeParams&) {
    ++disconnectCalls;
    return StatusOk;
}

std::int64_t ScriptedMachine::writeData(BridgeParams&, const std::uint8_t* data, int length, std::uint32_t* written) {
    Bytes packet(data, data + length);
    writes.push_back(packet);
    if (disconnectAfterBlocks >= 0 && blockPackets.size() >= static_cast<std::size_t>(disconnectAfterBlocks))
        return StatusNoDevice;
    if (written) *written = static_cast<std::uint32_t>(length);
    received(packet);
    return StatusOk;
}

std::int64_t ScriptedMachine::readData(BridgeParams&, std::uint8_t* buffer, int length, std::uint32_t* read) {
    const std::size_t n = std::min(pending_.size(), static_cast<std::size_t>(length > 0 ? length : 0));
    std::copy_n(pending_.begin(), n, buffer);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    if (read) *read = static_cast<std::uint32_t>(n);
    return StatusOk;
}

void ScriptedMachine::received(const Bytes& packet) {
    static const Bytes qmtv{'Q', 'M', 'T', 'V'};
    static const std::string requests = "MPF";
    if (packet == Bytes{0x7F} || packet == qmtv) {
        queue(qmtv);
    } else if (!upgrading_ && packet.size() == 1 && requests.find(static_cast<char>(packet[0])) != std::string::npos) {
        const std::string& text = packet[0] == 'M' ? model : packet[0] == 'P' ? hardware : software;
        queue(buildFrame(std::string_view(text)));
    } else if (packet == Bytes{0x5E}) {
        upgrading_ = true;
        identityAsked_ = 0;
        if (requestIdentity) {
            queue(Bytes{'M'});
            identityAsked_ = 1;
        } else if (sendReady) {
            queue(Bytes{'C'});
        }
    } else if (upgrading_ && packet.size() != 133 && packet.size() >= 5 && packet[0] == 0x01 && packet[1] == 0xA5) {
        identityFrames.push_back(packet);
        if (followFrames && identityAsked_ < requests.size()) {
            queue(Bytes{static_cast<std::uint8_t>(requests[identityAsked_++])});
        } else if (followFrames && sendReady) {
            queue(Bytes{'C'});
        }
    } else if (packet.size() == 133) {
        const std::size_t k = blockPackets.size();
        blockPackets.push_back(packet);
        const std::optional<std::uint8_t> reply =
            blockReply ? blockReply(k, packet) : std::optional<std::uint8_t>(wellFormed(packet) ? 0x06 : 0x15);
        if (reply == 0x06) stored.insert(stored.end(), packet.begin() + 3, packet.begin() + 131);
        if (reply) queue(Bytes{*reply});
    }
}

} // namespace mub::test
