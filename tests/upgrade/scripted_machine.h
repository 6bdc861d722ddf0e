// A machine behind the bridge library's six operations, for driving the
// upgrade run and the model check without hardware. It answers the probe,
// the link confirmation and the identity requests, plays the machine side of
// the upgrade (its own "M"/"P"/"F" requests, "C", one reply per block) and
// records everything the tool sent.
#pragma once

#include "link/frame.h"
#include "platform/bridge_library.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace mub::test {

class ScriptedMachine : public BridgeLibrary {
public:
    // Identity reported to connectMachine (GBK).
    std::string model = "AB12";
    std::string hardware = "HW-A";
    std::string software = "1.0";

    // Upgrade side.
    bool requestIdentity = true; // ask "M", "P", "F" after the begin byte
    bool sendReady = true;       // say "C" once the identity was received
    bool followFrames = true;    // answer an identity frame with the next request or "C"
    // Reply to the k-th block packet (0-based, resends counted); nothing
    // means silence. Default: 0x06 when the packet is well formed, else 0x15.
    std::function<std::optional<std::uint8_t>(std::size_t k, const Bytes& packet)> blockReply;
    // Every write fails once this many block packets were received (-1: never).
    long disconnectAfterBlocks = -1;
    // connectBridge status.
    std::uint32_t connectStatus = StatusOk;

    // Records.
    std::vector<Bytes> writes;       // every packet written, in order
    std::vector<Bytes> blockPackets; // the 133-byte packets
    std::vector<Bytes> identityFrames;
    Bytes stored; // data of the accepted blocks, in order
    int clearCalls = 0;
    int disconnectCalls = 0;

    static bool wellFormed(const Bytes& packet);

    // Bytes the machine sends on its own (a test drives the timing).
    void say(const Bytes& bytes) { queue(bytes); }

    std::int64_t connectBridge(BridgeParams& params, int mode) override;
    std::int64_t setMode(BridgeParams& params, const std::uint8_t* record, int length) override;
    std::int64_t clearDevBuffer(BridgeParams& params) override;
    std::int64_t writeData(BridgeParams& params, const std::uint8_t* data, int length, std::uint32_t* written) override;
    std::int64_t readData(BridgeParams& params, std::uint8_t* buffer, int length, std::uint32_t* read) override;
    std::int64_t disconnectBridge(BridgeParams& params) override;

private:
    void received(const Bytes& packet);
    void queue(const Bytes& bytes) { pending_.insert(pending_.end(), bytes.begin(), bytes.end()); }

    std::deque<std::uint8_t> pending_;
    bool upgrading_ = false;
    std::size_t identityAsked_ = 0;
};

} // namespace mub::test
