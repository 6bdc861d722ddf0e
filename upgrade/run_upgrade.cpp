#include "upgrade/run_upgrade.h"

#include "link/frame.h"
#include "link/machine_link.h"
#include "link/protocol.h"
#include "platform/gbk_text.h"
#include "platform/prompt_wakeup.h"
#include "upgrade/block_packet.h"
#include "upgrade/number_text.h"
#include "upgrade_file/upgrade_file.h"

#include <optional>
#include <string>
#include <string_view>

namespace mub {

namespace {

constexpr int HandshakeTimeoutMs = 2000;
constexpr int ReplyTimeoutMs = 1000;
constexpr std::int32_t PollPauseUs = 10;

// The poll pause and then a read of the machine's byte.
std::optional<std::uint8_t> readOneByteAfterPause(MachineLink& link) {
    const Bytes reply = link.readPacketAfterPause(PollPauseUs, 1, true);
    if (reply.empty()) return std::nullopt;
    return reply.back();
}

class UpgradeRun {
public:
    UpgradeRun(MachineLink& link, const UpgradeFile& file, const MachineInfo& machine, const RunOptions& options,
               SessionObserver& observer, UpgradeReport& report)
        : link_(link), waits_(link.waits()), file_(file), machine_(machine), options_(options), observer_(observer),
          report_(report) {}

    bool run() {
        if (!checks()) return false;
        if (!begin()) return false;
        if (!handshake()) return false;
        if (!transfer()) return false;
        complete();
        return end(UpgradeOutcome::Completed);
    }

private:
    bool end(UpgradeOutcome outcome) {
        report_.outcome = outcome;
        report_.blocksDone = blocksDone_;
        report_.totalFailures = totalFailures_;
        report_.timeouts = timeouts_;
        report_.rejectedBlocks = rejectedBlocks_;
        report_.quietMs = begun_ ? waits_.tickCount() - heardTick_ : 0;
        return outcome == UpgradeOutcome::Completed;
    }

    // Stop cleared the running flag: the link is released and nothing more
    // is sent or shown; the pane keeps the Stop's own text.
    bool stopped() {
        link_.closeTransport();
        return end(UpgradeOutcome::Stopped);
    }

    void tell(const SessionEvent& event) { observer_.on(event); }
    void tell(SessionEventKind kind) { observer_.on(SessionEvent(kind)); }
    void tell(SessionEventKind kind, Pane pane, const char* utf8Text) { observer_.on({kind, pane, gbk(utf8Text)}); }
    // The run ends with the pane's text and an error box; a `detail`
    // (GBK) follows on a line of its own in both.
    bool endWith(SessionEventKind kind, UpgradeOutcome outcome, const char* utf8Pane, const char* utf8Box,
                 const std::string& detail = {}) {
        SessionEvent event(kind, Pane::Replace, gbk(utf8Pane), gbk(utf8Box));
        if (!detail.empty()) {
            event.text += "\r\n" + detail;
            event.box += "\r\n" + detail;
        }
        event.outcome = outcome;
        tell(event);
        return end(outcome);
    }

    bool refuse(const char* utf8Text, UpgradeOutcome outcome) {
        SessionEvent event(SessionEventKind::Refused, Pane::Replace, gbk(utf8Text), gbk(utf8Text));
        event.outcome = outcome;
        tell(event);
        link_.writePacket(Bytes{Cancel});
        return end(outcome);
    }

    bool decline(const char* utf8Text, UpgradeOutcome outcome) {
        SessionEvent event(SessionEventKind::Declined, Pane::Replace, gbk(utf8Text));
        event.outcome = outcome;
        tell(event);
        link_.writePacket(Bytes{Cancel});
        return end(outcome);
    }

    // What the port said of it follows: a driver that no longer answers
    // needs the cable pulled, which a retry never mends.
    bool reportLinkLoss() {
        return endWith(SessionEventKind::RunFailed, UpgradeOutcome::LinkLost,
                       "设备被拔出或其他错误！！！请重新插拔USB线，然后打开机器电源。\r\n点击升级或连续按钮按钮重新升级",
                       "设备被拔出或其他错误！！！请重新插拔USB连接线，然后打开机器电源。\r\n点击升级或连续按钮按钮重新升级",
                       link_.transportFault());
    }

    // Yes or No; a question nobody could answer is taken as No.
    bool ask(Question question, const char* utf8Text) {
        SessionEvent event(SessionEventKind::Question, Pane::Keep, {}, gbk(utf8Text));
        event.question = question;
        tell(event);
        const std::optional<bool> answer = options_.ask ? options_.ask(event) : std::optional<bool>(false);
        if (!answer) report_.unanswered = true;
        return answer.value_or(false);
    }

    bool productionLine() const { return options_.rule == IdentityRule::ProductionLine; }

    bool send(const Bytes& packet) {
        const std::uint32_t status = link_.writePacket(packet);
        link_.setLinkStatus(status);
        return status == StatusOk;
    }

    bool running() const { return link_.running.load(); }

    // Identity and version checks. An empty image is refused first: there is
    // nothing to write, and the machine would be left erased.
    bool checks() {
        if (file_.image.empty())
            return refuse("升级文件中没有固件数据！请选择正确的文件。", UpgradeOutcome::EmptyImage);

        const std::string& machineModel = machine_.model;
        if (machineModel == wildcardModel()) return true;
        const std::string& machineHardware = machine_.hardware;
        const std::string& machineSoftware = machine_.software;

        if (machineHardware != file_.hardwareVersion && running())
            return refuse("硬件版本不匹配！请选择正确的文件。", UpgradeOutcome::HardwareMismatch);
        if (machineModel != file_.modelId && !productionLine() && running())
            return refuse("型号不匹配！请选择正确的文件。", UpgradeOutcome::ModelMismatch);
        // A Stop while a question is open answers it: nothing is sent.
        if (machineSoftware == file_.softwareVersion && !productionLine() && running()) {
            const bool yes = ask(Question::SameVersion, "软件版本相同,是否继续更新！“是”继续，“否”不更新。");
            if (!running()) return end(UpgradeOutcome::Stopped);
            if (!yes) return decline("软件版本相同！您取消了本次更新。", UpgradeOutcome::SameVersionDeclined);
        }
        const double machineNumber = readNumber(machineSoftware);
        const double fileNumber = readNumber(file_.softwareVersion);
        if (machineNumber - fileNumber > 0.0000001 && !productionLine() && running()) {
            const bool yes = ask(Question::OlderVersion, "升级文件是旧版本，是否继续更新！“是”继续，“否”不更新");
            if (!running()) return end(UpgradeOutcome::Stopped);
            if (!yes) return decline("升级文件是旧版本！您取消了本次更新。", UpgradeOutcome::OlderVersionDeclined);
        }
        return true;
    }

    bool begin() {
        // A Stop that came while a question was open ends the run here,
        // before the machine is put into its upgrade mode.
        if (!running()) return end(UpgradeOutcome::Stopped);
        tell(SessionEventKind::UpdateBegun, Pane::Append, "开始更新...\r\n");
        const bool sent = send(Bytes{BeginUpdate});
        // Without a "C" the elapsed time counts from the begin command.
        startTick_ = heardTick_ = waits_.tickCount();
        begun_ = true;
        if (!sent && running()) return reportLinkLoss();
        link_.setLinkStatus(StatusOk);
        waits_.armTimeout(HandshakeTimeoutMs);
        waits_.clearTimeoutElapsed();
        return true;
    }

    // Answers the machine's requests for the file's identity until it says
    // "C" or stays quiet for two seconds, or Stop is pressed: a machine that
    // keeps asking re-arms the time-out for ever.
    bool handshake() {
        const Bytes modelFrame = buildFrame(std::string_view(file_.modelId));
        const Bytes hardwareFrame = buildFrame(std::string_view(file_.hardwareVersion));
        const Bytes softwareFrame = buildFrame(std::string_view(file_.softwareVersion));
        while (!waits_.timeoutElapsed()) {
            if (!running()) return stopped();
            const auto reply = readOneByteAfterPause(link_);
            if (reply) heardTick_ = waits_.tickCount();
            if (reply == ReadyForBlocks) {
                startTick_ = waits_.tickCount();
                tell(SessionEventKind::MachineReady);
                break;
            }
            const Bytes* answer = reply == RequestModel      ? &modelFrame
                                  : reply == RequestHardware ? &hardwareFrame
                                  : reply == RequestSoftware ? &softwareFrame
                                                             : nullptr;
            if (answer) {
                link_.setLinkStatus(link_.writePacket(*answer));
                waits_.armTimeout(HandshakeTimeoutMs);
            }
            // The serial handlers may also have set the status (port lost).
            if (link_.linkStatus() != StatusOk && running()) return reportLinkLoss();
        }
        return true;
    }

    bool transfer() {
        tell(SessionEventKind::TransferBegun, Pane::Append, "更新中！请稍等...\r\n");
        const auto& image = file_.image;
        const double blocksInImage = static_cast<double>(image.size()) / static_cast<double>(BlockDataSize);
        SessionEvent progress(SessionEventKind::Progress);
        progress.position = -1; // none told yet
        progress.blocksTotal = static_cast<std::uint32_t>(blocksFor(image.size()));
        SessionEvent accepted(SessionEventKind::BlockAcknowledged);
        accepted.bytesTotal = image.size();
        std::uint8_t blockNumber = 0;
        std::uint32_t consecutiveFailures = 0;
        Bytes packet;
        for (;;) {
            if (!running()) return stopped();
            waits_.pumpDelay(PollPauseUs);
            ++blockNumber; // wraps from 255 to 0
            fillBlockPacket(image, blocksDone_, blockNumber, packet);

            // The views hear of the position when it changes: at most 101
            // times in a run, not before every block.
            const int position = static_cast<int>(blocksDone_ * 100.0 / (blocksInImage + 1.0));
            if (position != progress.position) {
                progress.position = position;
                progress.blocksDone = blocksDone_;
                tell(progress);
            }

            if (!send(packet) && running()) return reportLinkLoss();
            waits_.armTimeout(ReplyTimeoutMs);
            waits_.clearTimeoutElapsed();

            bool answered = false;
            while (running() && !waits_.timeoutElapsed()) {
                const auto reply = readOneByteAfterPause(link_);
                if (!reply) continue;
                heardTick_ = waits_.tickCount();
                if (*reply == BlockAccepted) {
                    consecutiveFailures = 0;
                    ++blocksDone_;
                    accepted.blocksDone = blocksDone_;
                    accepted.bytesDone = acknowledgedBytes();
                    tell(accepted);
                    answered = true;
                    break;
                }
                if (*reply == BlockRejected) {
                    ++consecutiveFailures;
                    ++totalFailures_;
                    ++rejectedBlocks_;
                    answered = true;
                    break;
                }
                if (*reply == Cancel && running())
                    return endWith(SessionEventKind::RunFailed, UpgradeOutcome::ImageTooLarge,
                                   "升级失败！！！文件长度超过芯片容量。", "升级失败！！！校验错误或文件长度超过芯片容量。");
                if (*reply == BlockChecksumFailed && running())
                    return endWith(SessionEventKind::RunFailed, UpgradeOutcome::ChecksumFailed, "升级失败！！！校验错误。",
                                   "升级失败！！！校验错误或文件长度超过芯片容量。");
            }
            // A Stop that ended the wait is no failure of the machine.
            if (!running()) return stopped();
            // No acknowledgement or rejection within the time: a time-out,
            // also when only bytes of no meaning came (a machine answering
            // noise would otherwise be sent the block for ever).
            if (!answered) {
                link_.transport().clear();
                ++consecutiveFailures;
                ++totalFailures_;
                ++timeouts_;
                tell(SessionEventKind::BlockTimeout, Pane::Append, "通讯超时！重发数据！\r\n");
            }
            if (consecutiveFailures > failuresInARowAllowed || totalFailures_ > failuresInAllAllowed)
                return endWith(SessionEventKind::RunFailed, UpgradeOutcome::TooManyFailures, "升级失败！！！通讯超时。",
                               "升级失败！！！通讯超时。");
            if (blocksDone_ - blocksInImage >= -0.0000001) {
                // The image is only complete once the machine got the end mark.
                if (!send(EndOfImage) && running()) return reportLinkLoss();
                if (running()) return true;
            }
        }
    }

    void complete() {
        const std::uint32_t elapsed = waits_.tickCount() - startTick_;
        report_.elapsedMs = elapsed;
        if (options_.beforeCompletion) {
            end(UpgradeOutcome::Completed);
            options_.beforeCompletion(report_);
        }
        SessionEvent completed(SessionEventKind::Completed, Pane::Append,
                               gbk("升级完成！\r\n耗时:") + numberText(elapsed / 1000.0) + gbk("秒\r\n"));
        completed.elapsedMs = elapsed;
        tell(completed);
        SessionEvent counter(SessionEventKind::Counter);
        counter.value = numberText(readNumber(options_.counter ? options_.counter() : std::string(1, '0')) + 1);
        tell(counter);
        waits_.pumpDelay(500000);
        tell(toneEvent(500, 500));
        tell(SessionEventKind::DisplayRestored);
    }

    std::uint64_t acknowledgedBytes() const {
        const std::uint64_t bytes = std::uint64_t{blocksDone_} * BlockDataSize;
        return bytes < file_.image.size() ? bytes : file_.image.size();
    }

    MachineLink& link_;
    Waits& waits_;
    const UpgradeFile& file_;
    const MachineInfo& machine_;
    const RunOptions& options_;
    SessionObserver& observer_;
    UpgradeReport& report_;
    std::uint32_t startTick_ = 0;
    bool begun_ = false;
    std::uint32_t heardTick_ = 0; // the machine's last byte
    std::uint32_t blocksDone_ = 0;
    std::uint32_t totalFailures_ = 0;
    std::uint32_t timeouts_ = 0;
    std::uint32_t rejectedBlocks_ = 0;
};

} // namespace

const std::string& wildcardModel() {
    static const std::string model = gbk("ZeZada");
    return model;
}

bool runUpgrade(MachineLink& link, const UpgradeFile& file, const MachineInfo& machine, const RunOptions& options,
                SessionObserver& observer, UpgradeReport* report) {
    UpgradeReport local;
    UpgradeReport& target = report ? *report : local;
    // Between a block's acknowledgement and the next block this thread
    // wakes two or three times; each late wake-up is line time lost.
    askForPromptWakeups();
    return UpgradeRun(link, file, machine, options, observer, target).run();
}

} // namespace mub
