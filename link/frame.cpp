#include "link/frame.h"

#include "link/protocol.h"

namespace mub {

std::uint32_t checksum16(const std::uint8_t* data, std::size_t size) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < size; ++i) sum = (sum + data[i]) & 0xFFFFu;
    return sum;
}

Bytes buildFrame(const Bytes& payload) {
    Bytes frame;
    frame.reserve(payload.size() + FrameOverhead);
    frame.push_back(FrameHeader1);
    frame.push_back(FrameHeader2);
    frame.push_back(static_cast<std::uint8_t>(payload.size() & 0xFFu));
    frame.insert(frame.end(), payload.begin(), payload.end());
    std::uint32_t sum = checksum16(payload);
    frame.push_back(static_cast<std::uint8_t>(sum >> 8));
    frame.push_back(static_cast<std::uint8_t>(sum & 0xFFu));
    return frame;
}

Bytes buildFrame(std::string_view payload) { return buildFrame(toBytes(payload)); }

std::optional<Bytes> checkFrame(const Bytes& reply) {
    if (reply.size() < 2 || reply[0] != FrameHeader1 || reply[1] != FrameHeader2) return std::nullopt;
    // A reply of 2..4 bytes can never carry its length byte plus checksum.
    if (reply.size() < FrameOverhead) return std::nullopt;
    std::size_t length = reply[2];
    if (length != reply.size() - FrameOverhead) return std::nullopt;
    Bytes payload(reply.begin() + 3, reply.begin() + 3 + static_cast<std::ptrdiff_t>(length));
    std::uint32_t sum = checksum16(payload);
    if (reply[reply.size() - 2] != (sum >> 8) || reply[reply.size() - 1] != (sum & 0xFFu)) return std::nullopt;
    return payload;
}

std::string payloadText(const Bytes& payload) {
    std::string text;
    for (std::uint8_t b : payload) {
        if (b == 0) break;
        text.push_back(static_cast<char>(b));
    }
    return text;
}

} // namespace mub
