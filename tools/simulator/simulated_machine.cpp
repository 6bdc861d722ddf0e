#include "tools/simulator/simulated_machine.h"

#include "link/frame.h"
#include "link/protocol.h"
#include "platform/prompt_wakeup.h"
#include "upgrade_file/key_setup.h"

#include <fstream>

namespace mub::sim {

namespace {
constexpr std::uint8_t noiseByte = 0x55; // means nothing to the tool
constexpr int byteTimeoutMs = 1000; // inside one packet or frame
constexpr int identityTries = 3;
} // namespace

SimulatedMachine::SimulatedMachine(const SimulatorOptions& options, PtyLine& line, const std::atomic<bool>& stop)
    : options_(options), line_(line), stop_(stop), corruptLeft_(options.corruptFrames),
      rejectLeft_(options.rejectBlock), ignoreLeft_(options.ignoreBlock), strayLeft_(options.strayByte),
      software_(options.software) {
    if (options.planned && options.leaveAfterMs >= 0)
        leave(Clock::now() + std::chrono::milliseconds(options.leaveAfterMs), options.awayMs);
}

void SimulatedMachine::leave(Clock::time_point when, int gapMs) {
    const Clock::rep ticks = when.time_since_epoch().count();
    if (ticks >= leaveAtTicks_.load()) return;
    gap_ = std::chrono::milliseconds(gapMs);
    leaveAtTicks_.store(ticks);
}

void SimulatedMachine::hangUp() {
    if (options_.planned)
        leave(Clock::now(), options_.awayMs);
    else
        line_.close();
    hungUp_ = true;
}

void SimulatedMachine::run() {
    // A UART keeps its byte times whatever else the computer does.
    askForPromptWakeups();
    std::uint8_t byte = 0;
    while (!stop_.load() && !hungUp_) {
        if (!nextByte(byte, -1)) continue;
        if (away()) {
            pending_.clear(); // nobody there to hear it
            continue;
        }
        handleIdleByte(byte);
    }
    // Count what the tool sent just before the stop (a final Reject, say);
    // bounded, so a tool that keeps probing cannot hold the exit up. A
    // machine of a plan is gone: it hears nothing more.
    for (int left = 4096; left > 0 && !hungUp_ && !options_.planned && nextByte(byte, 0); --left)
        if (!away()) handleIdleByte(byte);
    if (report_.result == "identifying" || report_.result == "transferring")
        report_.result = options_.planned && leaveDue(Clock::now()) ? "left" : "stopped";
    saveReport();
}

bool SimulatedMachine::nextByte(std::uint8_t& byte, int timeoutMs) {
    if (pending_.empty()) {
        Bytes incoming;
        if (!line_.read(incoming, timeoutMs, stop_)) return false;
        pending_.insert(pending_.end(), incoming.begin(), incoming.end());
    }
    byte = pending_.front();
    pending_.pop_front();
    return true;
}

void SimulatedMachine::send(Bytes bytes) {
    line_.reply(bytes, stop_);
}

void SimulatedMachine::saveReport() { writeReport(report_, options_.reportPath); }

bool SimulatedMachine::away() {
    // Worked out when a byte comes: nothing else can tell the difference.
    const auto now = Clock::now();
    if (leaveAt_ && now >= *leaveAt_) {
        // Taken away; the next one, once it is there, has the first identity.
        awayUntil_ = *leaveAt_ + std::chrono::milliseconds(options_.awayMs);
        leaveAt_.reset();
        software_ = options_.software;
    }
    return now < awayUntil_;
}

void SimulatedMachine::handleIdleByte(std::uint8_t byte) {
    const std::string& mark = companyMark();
    switch (byte) {
    case LinkProbe:
        ++report_.probes;
        if (!options_.silent) send(toBytes(mark));
        return;
    case RequestModel:
    case RequestHardware:
    case RequestSoftware:
        ++report_.identityRequests;
        if (!options_.silent) replyIdentity(static_cast<char>(byte));
        return;
    case BeginUpdate:
        ++report_.upgrades;
        if (!options_.silent) receiveUpgrade();
        return;
    case Cancel:
        ++report_.rejectsReceived;
        return;
    default:
        break;
    }
    if (byte != static_cast<std::uint8_t>(mark[0])) return;
    // The confirmation: the whole mark, echoed.
    Bytes got{byte};
    std::uint8_t next = 0;
    while (got.size() < mark.size() && nextByte(next, byteTimeoutMs)) {
        got.push_back(next);
        if (next != static_cast<std::uint8_t>(mark[got.size() - 1])) break;
    }
    if (got == toBytes(mark)) {
        ++report_.confirmations;
        if (!options_.silent && !options_.noConfirm) send(got);
        return;
    }
    // Not the mark after all: the bytes after its first one are looked at again.
    for (auto it = got.rbegin(); it + 1 != got.rend(); ++it) pending_.push_front(*it);
}

void SimulatedMachine::streamNoise() {
    const Bytes chunk(16, noiseByte);
    while (!stop_.load()) {
        line_.write(chunk, stop_);
        Bytes dropped;
        line_.read(dropped, 0, stop_);
    }
}

void SimulatedMachine::acknowledgeAndHangUp() {
    if (options_.planned) {
        // The line stays: the tool's next bytes reach nobody.
        send(Bytes{BlockAccepted});
        report_.result = "disconnected";
        saveReport();
        hangUp();
        return;
    }
    line_.holdPeerOutput();
    send(Bytes{BlockAccepted});
    line_.waitTaken(std::chrono::seconds(2));
    line_.close();
    hungUp_ = true;
    report_.result = "disconnected";
    saveReport();
}

void SimulatedMachine::replyIdentity(char request) {
    if (options_.streamRequests.find(request) != std::string::npos) {
        streamNoise();
        return;
    }
    const std::string& text = request == RequestModel      ? options_.model
                              : request == RequestHardware ? options_.hardware
                                                           : software_;
    Bytes payload = toBytes(text);
    payload.insert(payload.end(), static_cast<std::size_t>(options_.padding), 0);
    Bytes frame = buildFrame(payload);
    if (corruptLeft_ > 0 && options_.corruptRequests.find(request) != std::string::npos) {
        --corruptLeft_;
        frame.back() ^= 0xFF;
    }
    send(frame);
}

bool SimulatedMachine::readFrame(Bytes& frame) {
    frame.clear();
    std::uint8_t byte = 0;
    // Header 01 A5, the length byte, then length + 2 bytes. Any other byte
    // where a frame should begin (a probe, a Reject) means the tool gave up
    // the upgrade: it is handled as the machine idles, else a tool that
    // probes faster than a byte's time-out would keep it waiting forever.
    while (frame.size() < 3) {
        if (!nextByte(byte, byteTimeoutMs)) return false;
        if (frame.empty() && byte != FrameHeader1) {
            pending_.push_front(byte);
            abandoned_ = true;
            return false;
        }
        if (frame.size() == 1 && byte != FrameHeader2) {
            frame.clear();
            if (byte != FrameHeader1) continue;
        }
        frame.push_back(byte);
    }
    const std::size_t total = std::size_t{frame[2]} + 5;
    while (frame.size() < total) {
        if (!nextByte(byte, byteTimeoutMs)) return false;
        frame.push_back(byte);
    }
    return true;
}

bool SimulatedMachine::askIdentity(char request, std::string& text) {
    for (int attempt = 0; attempt < identityTries && !stop_.load(); ++attempt) {
        send(Bytes{static_cast<std::uint8_t>(request)});
        Bytes frame;
        if (!readFrame(frame)) {
            if (abandoned_) return false;
            continue;
        }
        if (auto payload = checkFrame(frame)) {
            text = payloadText(*payload);
            return true;
        }
        ++report_.badIdentityFrames;
    }
    return false;
}

void SimulatedMachine::receiveUpgrade() {
    // A new transfer: the counters of the previous one start over.
    SimulationReport fresh;
    fresh.probes = report_.probes;
    fresh.confirmations = report_.confirmations;
    fresh.identityRequests = report_.identityRequests;
    fresh.rejectsReceived = report_.rejectsReceived;
    fresh.upgrades = report_.upgrades;
    report_ = fresh;
    rejectLeft_ = options_.rejectBlock;
    ignoreLeft_ = options_.ignoreBlock;
    strayLeft_ = options_.strayByte;
    attempted_.clear();

    report_.result = "identifying";
    abandoned_ = false;
    if (!askIdentity(RequestModel, report_.model) || !askIdentity(RequestHardware, report_.hardware) ||
        !askIdentity(RequestSoftware, report_.software)) {
        report_.result = stop_.load() ? "stopped" : abandoned_ ? "abandoned" : "identity-failed";
        saveReport();
        return;
    }
    report_.identityValid = true;
    // A machine that never gets over the identity: asks for the model again and again.
    while (options_.repeatRequest && !stop_.load()) askIdentity(RequestModel, report_.model);
    if (!options_.noReady) send(Bytes{ReadyForBlocks});
    readySent_ = Clock::now();

    report_.result = "transferring";
    std::uint8_t expectedNumber = 1;
    int block = 1;
    Bytes image;
    std::uint8_t byte = 0;
    while (!stop_.load()) {
        if (!nextByte(byte, -1)) continue;
        if (byte == BlockStart) {
            if (!receiveBlock(expectedNumber, block, image)) return;
            continue;
        }
        if (byte == EndOfImage[0]) {
            Bytes rest;
            std::uint8_t next = 0;
            while (rest.size() < EndOfImage.size() - 1 && nextByte(next, byteTimeoutMs)) rest.push_back(next);
            if (rest == Bytes(EndOfImage.begin() + 1, EndOfImage.end())) {
                report_.transferSeconds = std::chrono::duration<double>(line_.receivedBy() - readySent_).count();
                finishImage(image);
                return;
            }
            for (auto it = rest.rbegin(); it != rest.rend(); ++it) pending_.push_front(*it);
            continue;
        }
        // Anything else (a probe, a request) means the tool gave up the transfer.
        pending_.push_front(byte);
        report_.result = "abandoned";
        saveReport();
        return;
    }
}

bool SimulatedMachine::receiveBlock(std::uint8_t& expectedNumber, int& block, Bytes& image) {
    Bytes packet{BlockStart};
    std::uint8_t byte = 0;
    while (packet.size() < BlockPacketSize && nextByte(byte, byteTimeoutMs)) packet.push_back(byte);
    if (stop_.load()) return false;
    ++report_.packets;
    if (!attempted_.insert(block).second) ++report_.resends;

    if (packet.size() < BlockPacketSize) {
        ++report_.badPackets;
        send(Bytes{BlockRejected});
        return true;
    }
    const std::uint8_t number = packet[1];
    const bool numberOk = number == expectedNumber && packet[2] == static_cast<std::uint8_t>(0xFF - number);
    expectedNumber = static_cast<std::uint8_t>(number + 1);
    const std::uint32_t sum = checksum16(packet.data() + 3, BlockDataSize);
    const bool sumOk = packet[BlockPacketSize - 2] == (sum >> 8) && packet[BlockPacketSize - 1] == (sum & 0xFF);

    if (options_.disconnectAt == block) {
        report_.result = "disconnected";
        saveReport();
        hangUp();
        return false;
    }
    if (!numberOk || !sumOk) {
        ++report_.badPackets;
        send(Bytes{BlockRejected});
        return true;
    }
    if (options_.tooLargeAt == block || options_.checksumErrorAt == block) {
        const bool tooLarge = options_.tooLargeAt == block;
        send(Bytes{tooLarge ? Cancel : BlockChecksumFailed});
        report_.result = tooLarge ? "too-large" : "checksum-error";
        saveReport();
        return false;
    }
    if (options_.noiseFrom != 0 && block >= options_.noiseFrom) {
        report_.result = "noise";
        saveReport();
        streamNoise();
        return false;
    }
    if (auto it = strayLeft_.find(block); it != strayLeft_.end() && it->second > 0) {
        --it->second;
        send(Bytes{noiseByte});
    }
    if (auto it = ignoreLeft_.find(block); it != ignoreLeft_.end() && it->second > 0) {
        --it->second;
        ++report_.ignored;
        return true;
    }
    if (auto it = rejectLeft_.find(block); it != rejectLeft_.end() && it->second > 0) {
        --it->second;
        ++report_.rejected;
        send(Bytes{BlockRejected});
        return true;
    }
    image.insert(image.end(), packet.begin() + 3, packet.begin() + 3 + BlockDataSize);
    ++block;
    ++report_.blocks;
    if (options_.disconnectAfter == report_.blocks) {
        acknowledgeAndHangUp();
        return false;
    }
    send(Bytes{BlockAccepted});
    return true;
}

void SimulatedMachine::finishImage(Bytes& image) {
    if (options_.imageLength >= 0) {
        if (static_cast<std::int64_t>(image.size()) > options_.imageLength)
            image.resize(static_cast<std::size_t>(options_.imageLength));
    } else {
        // The last block is filled up with 0xFF; strip that filler (at most
        // one block's worth less one byte).
        std::size_t stripped = 0;
        while (!image.empty() && image.back() == 0xFF && stripped < BlockDataSize - 1) {
            image.pop_back();
            ++stripped;
        }
    }
    report_.result = "completed";
    // The new software starts: after the restart the machine reports the
    // version the upgrade gave it.
    auto back = Clock::now();
    if (options_.replacedAfterEndMs >= 0) {
        // The next machine, not yet upgraded, in its place.
        awayUntil_ = back + std::chrono::milliseconds(options_.replacedAfterEndMs);
        software_ = options_.software;
        if (options_.planned) leave(back, options_.replacedAfterEndMs);
    } else {
        if (options_.rebootMs >= 0) {
            back += std::chrono::milliseconds(options_.rebootMs);
            awayUntil_ = back;
            software_ = report_.software;
        }
        if (options_.swapAfterMs >= 0 && options_.planned)
            leave(back + std::chrono::milliseconds(options_.swapAfterMs), options_.awayMs);
        else if (options_.swapAfterMs >= 0)
            leaveAt_ = back + std::chrono::milliseconds(options_.swapAfterMs);
    }
    if (!options_.saveImagePath.empty()) {
        std::ofstream out(options_.saveImagePath, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        if (out.flush()) {
            report_.imageBytes = static_cast<std::int64_t>(image.size());
            report_.imagePath = options_.saveImagePath;
        } else {
            report_.result = "save-failed";
        }
    }
    saveReport();
}

} // namespace mub::sim
