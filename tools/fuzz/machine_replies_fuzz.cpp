// Fuzz target for the link's reading of what a machine sends: the marks that
// answer the probe and the confirmation, the identity frames, the machine's
// own requests after the begin byte, "C", the block answers, and noise in
// any of them. The input plays the machine; the tool's side is the real
// code (connectMachine, then runUpgrade or the model check's end) over one
// of two transports:
//   - a COM port as the link sees it: each read hands over what arrived
//     since the last one, fewer or more bytes than asked;
//   - the bridge library: reads take the stream byte by byte, so a framed
//     read is BridgeTransport's own (header, length byte, the rest).
// Time is virtual: a read that finds nothing lasts its time-out, so a run of
// thousands of exchanges takes microseconds. When the input runs out the
// operator presses Stop.
//
// Byte 0: bit 0 the transport (0 COM, 1 bridge), bit 1 the run (0 upgrade,
// 1 model check), bit 2 the identity rule (0 production line, 1 strict),
// bit 3 the answer to questions, bits 4-7 the image (1 + 97 * n bytes).
// The COM port's stream is a sequence of arrivals, each a byte h and then
// h bytes; h = 0xFF: nothing arrives within the read's silence; h = 0xFE:
// the port is lost (its status set, the next write fails).
//
// Beyond the sanitizers' findings the checks below hold for every input:
// checkFrame accepts exactly the replies buildFrame makes, each block goes
// out as the packet of the block after the last acknowledged one, the end
// mark follows the last block only, and the report adds up.
#include "link/bridge_transport.h"
#include "link/connect_machine.h"
#include "link/frame.h"
#include "link/machine_link.h"
#include "link/machine_search.h"
#include "link/protocol.h"
#include "platform/waits.h"
#include "upgrade/block_packet.h"
#include "upgrade/detect_model.h"
#include "upgrade/run_upgrade.h"
#include "upgrade_file/upgrade_file.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

using mub::Bytes;

void check(bool condition) {
    if (!condition) std::abort();
}

// checkFrame takes a reply exactly when it is the frame of its middle bytes.
void checkFrameRule(const Bytes& reply) {
    const std::optional<Bytes> payload = mub::checkFrame(reply);
    bool wellFormed = false;
    Bytes middle;
    if (reply.size() >= mub::FrameOverhead && reply.size() - mub::FrameOverhead <= 255) {
        middle.assign(reply.begin() + 3, reply.end() - 2);
        wellFormed = mub::buildFrame(middle) == reply;
    }
    check(payload.has_value() == wellFormed);
    if (payload) check(*payload == middle);
}

class VirtualWaits : public mub::Waits {
public:
    void armTimeout(int milliseconds) override {
        intervalUs_ = std::int64_t{milliseconds} * 1000;
        deadlineUs_ = nowUs_ + intervalUs_;
    }
    bool timeoutElapsed() const override { return deadlineUs_ >= 0 && nowUs_ >= deadlineUs_; }
    // A ticking timer: it rises again one interval later.
    void clearTimeoutElapsed() override {
        if (timeoutElapsed()) deadlineUs_ = nowUs_ + intervalUs_;
    }
    std::uint32_t tickCount() const override { return static_cast<std::uint32_t>(nowUs_ / 1000); }
    void pumpDelay(std::int32_t microseconds) override { nowUs_ += std::max<std::int32_t>(microseconds, 1); }
    void pass(std::int64_t milliseconds) { nowUs_ += milliseconds * 1000; }

private:
    std::int64_t nowUs_ = 0;
    std::int64_t deadlineUs_ = -1;
    std::int64_t intervalUs_ = 0;
};

// What the machine sends, and what the tool must have done by each write.
struct Exchange {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t at = 0;
    VirtualWaits waits;
    std::atomic<bool>* running = nullptr;
    const Bytes* image = nullptr;
    std::uint32_t acknowledged = 0; // BlockAcknowledged events
    std::uint32_t packetsSent = 0;
    bool endMarkSent = false;

    std::size_t left() const { return size - at; }
    // The operator gives up at a read that finds the machine has nothing
    // more to say; false then.
    bool more() {
        if (left() > 0) return true;
        if (running) running->store(false);
        return false;
    }
    void wrote(const Bytes& packet) {
        if (packet.size() == mub::BlockPacketSize) {
            ++packetsSent;
            check(!endMarkSent);
            check(acknowledged < mub::blocksFor(image->size()));
            check(packet == mub::buildBlockPacket(*image, acknowledged, static_cast<std::uint8_t>(packetsSent)));
        } else if (packet == mub::EndOfImage) {
            check(!endMarkSent && acknowledged == mub::blocksFor(image->size()));
            endMarkSent = true;
        }
    }
};

class Watcher : public mub::SessionObserver {
public:
    explicit Watcher(Exchange& exchange) : exchange_(exchange) {}
    void on(const mub::SessionEvent& event) override {
        using K = mub::SessionEventKind;
        if (event.kind == K::Progress) {
            check(event.position >= 0 && event.position <= 100 && event.blocksDone <= event.blocksTotal);
        } else if (event.kind == K::BlockAcknowledged) {
            check(event.blocksDone == ++exchange_.acknowledged && event.bytesDone <= event.bytesTotal);
        } else if (event.kind == K::Identified) {
            for (const std::string* text : {&event.machine.model, &event.machine.hardware, &event.machine.software})
                check(text->size() <= 255 && text->find('\0') == std::string::npos);
        }
    }

private:
    Exchange& exchange_;
};

// connectMachine's search over the one port: opened again (its status
// cleared, as the port search does), then probed until the mark comes.
class OnePortSearch : public mub::MachineSearch {
public:
    explicit OnePortSearch(mub::SearchHost& host) : host_(host) {}
    Result find() override {
        host_.link().setLinkStatus(mub::StatusOk);
        return host_.probe(0) ? Result::Found : Result::NotFound;
    }
    void linkLost() override {}

private:
    mub::SearchHost& host_;
};

class FuzzComPort : public mub::Transport {
public:
    explicit FuzzComPort(Exchange& exchange) : exchange_(exchange) {}
    void useBaudRate(int) override {}
    std::uint32_t open(std::int32_t, const std::atomic<bool>&) override { return mub::StatusOk; }
    void clear() override {}
    std::uint32_t write(const Bytes& data) override {
        exchange_.wrote(data);
        if (lost_) {
            lost_ = false;
            return mub::StatusNoDevice;
        }
        return status_;
    }
    Bytes read(std::int32_t, bool raw, const std::atomic<bool>&) override {
        Bytes arrived;
        if (exchange_.more()) {
            const std::uint8_t h = exchange_.data[exchange_.at++];
            if (h >= 0xFE) {
                exchange_.waits.pass(21); // the serial transport's silence
                if (h == 0xFE) {
                    status_ = mub::StatusNoDevice;
                    lost_ = true;
                }
            } else {
                const std::size_t n = std::min<std::size_t>(h, exchange_.left());
                arrived.assign(exchange_.data + exchange_.at, exchange_.data + exchange_.at + n);
                exchange_.at += n;
            }
        }
        if (!raw) checkFrameRule(arrived);
        return arrived;
    }
    void close() override {}
    std::uint32_t status() const override { return status_; }
    void setStatus(std::uint32_t status) override { status_ = status; }
    std::unique_ptr<mub::MachineSearch> newSearch(mub::SearchHost& host) override {
        return std::make_unique<OnePortSearch>(host);
    }

private:
    Exchange& exchange_;
    std::uint32_t status_ = mub::StatusOk;
    bool lost_ = false;
};

class FuzzBridge : public mub::BridgeLibrary {
public:
    explicit FuzzBridge(Exchange& exchange) : exchange_(exchange) {}
    std::int64_t connectBridge(mub::BridgeParams&, int) override { return mub::StatusOk; }
    std::int64_t setMode(mub::BridgeParams&, const std::uint8_t*, int) override { return mub::StatusOk; }
    std::int64_t clearDevBuffer(mub::BridgeParams&) override { return mub::StatusOk; }
    std::int64_t writeData(mub::BridgeParams&, const std::uint8_t* data, int length, std::uint32_t* written) override {
        exchange_.wrote(Bytes(data, data + length));
        *written = static_cast<std::uint32_t>(length);
        return mub::StatusOk;
    }
    std::int64_t readData(mub::BridgeParams& params, std::uint8_t* buffer, int length, std::uint32_t* read) override {
        exchange_.more();
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max(length, 0)), exchange_.left());
        if (n > 0) std::memcpy(buffer, exchange_.data + exchange_.at, n);
        exchange_.at += n;
        *read = static_cast<std::uint32_t>(n);
        // A read that gets fewer bytes than asked waits out its time-out.
        if (n < static_cast<std::size_t>(std::max(length, 0))) exchange_.waits.pass(params.words[2]);
        return mub::StatusOk;
    }
    std::int64_t disconnectBridge(mub::BridgeParams&) override { return mub::StatusOk; }

private:
    Exchange& exchange_;
};

// BridgeTransport with the framed replies it hands over checked too.
class CheckedBridgeTransport : public mub::BridgeTransport {
public:
    using BridgeTransport::BridgeTransport;
    Bytes read(std::int32_t count, bool raw, const std::atomic<bool>& running) override {
        Bytes reply = BridgeTransport::read(count, raw, running);
        if (!raw) checkFrameRule(reply);
        return reply;
    }
};

void checkReport(const mub::UpgradeReport& report, bool completed, const Exchange& exchange) {
    check(report.timeouts + report.rejectedBlocks == report.totalFailures);
    check(report.totalFailures <= mub::failuresInAllAllowed + 1);
    check(completed == (report.outcome == mub::UpgradeOutcome::Completed));
    check(report.blocksDone == exchange.acknowledged);
    if (completed) check(exchange.endMarkSent);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t options = data[0];
    const bool bridge = options & 1;
    const bool modelCheck = options & 2;
    const bool strict = options & 4;
    const bool answer = options & 8;

    mub::UpgradeFile file;
    file.image.resize(1 + 97 * std::size_t{static_cast<std::uint8_t>(options >> 4)});
    for (std::size_t i = 0; i < file.image.size(); ++i) file.image[i] = static_cast<std::uint8_t>(i * 31 + 7);
    file.softwareVersion = "2.0";
    file.loaded = true;

    Exchange exchange;
    exchange.data = data + 1;
    exchange.size = size - 1;
    exchange.image = &file.image;

    FuzzBridge library(exchange);
    std::unique_ptr<mub::Transport> transport;
    if (bridge)
        transport = std::make_unique<CheckedBridgeTransport>(&library);
    else
        transport = std::make_unique<FuzzComPort>(exchange);
    mub::MachineLink link(exchange.waits, *transport);
    exchange.running = &link.running;
    Watcher watcher(exchange);

    if (modelCheck) {
        mub::detectModel(link, 0, true, watcher);
        return 0;
    }
    const std::optional<mub::MachineInfo> machine = mub::connectMachine(link, 0, watcher);
    if (!machine) return 0;
    // The file is for this machine: the run gets past the identity checks
    // to the version questions and the transfer.
    file.modelId = machine->model;
    file.hardwareVersion = machine->hardware;
    mub::RunOptions run;
    run.rule = strict ? mub::IdentityRule::Strict : mub::IdentityRule::ProductionLine;
    run.ask = [answer](const mub::SessionEvent&) { return std::optional<bool>(answer); };
    mub::UpgradeReport report;
    const bool completed = mub::runUpgrade(link, file, *machine, run, watcher, &report);
    checkReport(report, completed, exchange);
    return 0;
}
