// The USB bridge library as a transport: one device, connected and set to
// the chosen baud rate, written and read with time-outs that scale with the
// bytes (20 ms a byte), disconnected at the end.
#pragma once

#include "link/transport.h"
#include "platform/bridge_library.h"

#include <mutex>

namespace mub {

class BridgeTransport : public Transport {
public:
    // `bridge` may be null (not loaded): every operation then finds no device.
    explicit BridgeTransport(BridgeLibrary* bridge);

    // The item's index goes into the mode record.
    void useBaudRate(int baudIndex) override;
    // Connects the bridge and clears the device's buffer; the connect status.
    std::uint32_t open(std::int32_t port, const std::atomic<bool>& running) override;
    void clear() override;
    std::uint32_t write(const Bytes& data) override;
    Bytes read(std::int32_t count, bool raw, const std::atomic<bool>& running) override;
    void close() override;
    std::uint32_t status() const override;
    void setStatus(std::uint32_t status) override;
    std::unique_ptr<MachineSearch> newSearch(SearchHost& host) override;

    // After a successful connect: the mode record with the chosen baud rate.
    void setMode();
    BridgeParams& params() { return params_; }

private:
    BridgeLibrary* bridge_;
    BridgeParams params_;
    // 0x01, the baud-rate item's index (its low byte), 0x00, 0x01.
    std::uint8_t modeRecord_[4] = {0x01, 0xFF, 0x00, 0x01};
    mutable std::mutex statusLock_;
    std::uint32_t status_ = StatusOk;
};

} // namespace mub
