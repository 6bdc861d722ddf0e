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
constexpr std::uint32_t MaxConsecutiveFailures = 3;
constexpr std::uint32_t MaxTotalFailures = 10;

// The window title ends with this mark on production-line installations;
// there a model mismatch and an equal or older version go through unasked.
bool productionOnly(const Ui& ui) { return lastBytes(ui.title(), 8) == gbk("生产专用"); }

std::optional<std::uint8_t> readOneByte(MachineLink& link) {
    const Bytes reply = link.readPacket(1, true);
    if (reply.empty()) return std::nullopt;
    return reply.back();
}

class UpgradeRun {
public:
    UpgradeRun(MachineLink& link, const UpgradeFile& file, const MachineInfo& machine, UpgradeReport& report)
        : link_(link), ui_(link.ui()), file_(file), machine_(machine), report_(report) {}

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
        return outcome == UpgradeOutcome::Completed;
    }

    // Stop cleared the running flag: the link is released and nothing more
    // is sent or shown; the pane keeps the Stop's own text.
    bool stopped() {
        link_.closeTransport();
        return end(UpgradeOutcome::Stopped);
    }

    bool refuse(const std::string& utf8Text, UpgradeOutcome outcome) {
        const std::string text = gbk(utf8Text);
        ui_.setMessage(text);
        ui_.errorBox(text);
        link_.writePacket(Bytes{Cancel});
        return end(outcome);
    }

    bool decline(const std::string& utf8Text, UpgradeOutcome outcome) {
        ui_.setMessage(gbk(utf8Text));
        link_.writePacket(Bytes{Cancel});
        return end(outcome);
    }

    bool reportLinkLoss() {
        ui_.setMessage(gbk("设备被拔出或其他错误！！！请重新插拔USB线，然后打开机器电源。\r\n点击升级或连续按钮按钮重新升级"));
        ui_.errorBox(gbk("设备被拔出或其他错误！！！请重新插拔USB连接线，然后打开机器电源。\r\n点击升级或连续按钮按钮重新升级"));
        return end(UpgradeOutcome::LinkLost);
    }

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
        if (machineModel == gbk("ZeZada")) return true;
        const std::string& machineHardware = machine_.hardware;
        const std::string& machineSoftware = machine_.software;

        if (machineHardware != file_.hardwareVersion && running())
            return refuse("硬件版本不匹配！请选择正确的文件。", UpgradeOutcome::HardwareMismatch);
        if (machineModel != file_.modelId && !productionOnly(ui_) && running())
            return refuse("型号不匹配！请选择正确的文件。", UpgradeOutcome::ModelMismatch);
        // A Stop while a question is open answers it: nothing is sent.
        if (machineSoftware == file_.softwareVersion && !productionOnly(ui_) && running()) {
            const bool yes = ui_.askYesNo(gbk("软件版本相同,是否继续更新！“是”继续，“否”不更新。"));
            if (!running()) return end(UpgradeOutcome::Stopped);
            if (!yes) return decline("软件版本相同！您取消了本次更新。", UpgradeOutcome::SameVersionDeclined);
        }
        const double machineNumber = readNumber(machineSoftware);
        const double fileNumber = readNumber(file_.softwareVersion);
        if (machineNumber - fileNumber > 0.0000001 && !productionOnly(ui_) && running()) {
            const bool yes = ui_.askYesNo(gbk("升级文件是旧版本，是否继续更新！“是”继续，“否”不更新"));
            if (!running()) return end(UpgradeOutcome::Stopped);
            if (!yes) return decline("升级文件是旧版本！您取消了本次更新。", UpgradeOutcome::OlderVersionDeclined);
        }
        return true;
    }

    bool begin() {
        // A Stop that came while a question was open ends the run here,
        // before the machine is put into its upgrade mode.
        if (!running()) return end(UpgradeOutcome::Stopped);
        ui_.appendMessage(gbk("开始更新...\r\n"));
        ui_.setEnabled(Control::UpgradeButton, false);
        ui_.setEnabled(Control::DetectModelButton, false);
        const bool sent = send(Bytes{BeginUpdate});
        // Without a "C" the elapsed time counts from the begin command.
        startTick_ = ui_.tickCount();
        if (!sent && running()) return reportLinkLoss();
        link_.setLinkStatus(StatusOk);
        ui_.armTimeout(HandshakeTimeoutMs);
        ui_.clearTimeoutElapsed();
        return true;
    }

    // Answers the machine's requests for the file's identity until it says
    // "C" or stays quiet for two seconds, or Stop is pressed: a machine that
    // keeps asking re-arms the time-out for ever.
    bool handshake() {
        const Bytes modelFrame = buildFrame(std::string_view(file_.modelId));
        const Bytes hardwareFrame = buildFrame(std::string_view(file_.hardwareVersion));
        const Bytes softwareFrame = buildFrame(std::string_view(file_.softwareVersion));
        while (!ui_.timeoutElapsed()) {
            ui_.pumpDelay(PollPauseUs);
            if (!running()) return stopped();
            const auto reply = readOneByte(link_);
            if (reply == ReadyForBlocks) {
                startTick_ = ui_.tickCount();
                ui_.setProgress(0);
                ui_.showProgress(true);
                ui_.setPercentText(std::to_string(ui_.progress()));
                ui_.showPercent(true);
                ui_.stopClock();
                ui_.setStatusText(1, "");
                break;
            }
            const Bytes* answer = reply == RequestModel      ? &modelFrame
                                  : reply == RequestHardware ? &hardwareFrame
                                  : reply == RequestSoftware ? &softwareFrame
                                                             : nullptr;
            if (answer) {
                link_.setLinkStatus(link_.writePacket(*answer));
                ui_.armTimeout(HandshakeTimeoutMs);
            }
            // The serial handlers may also have set the status (port lost).
            if (link_.linkStatus() != StatusOk && running()) return reportLinkLoss();
        }
        return true;
    }

    bool transfer() {
        ui_.appendMessage(gbk("更新中！请稍等...\r\n"));
        const auto& image = file_.image;
        const double blocksInImage = static_cast<double>(image.size()) / static_cast<double>(BlockDataSize);
        std::uint8_t blockNumber = 0;
        std::uint32_t consecutiveFailures = 0;
        for (;;) {
            if (!running()) return stopped();
            ui_.pumpDelay(PollPauseUs);
            ++blockNumber; // wraps from 255 to 0
            const Bytes packet = buildBlockPacket(image, blocksDone_, blockNumber);

            const int position = static_cast<int>(blocksDone_ * 100.0 / (blocksInImage + 1.0));
            ui_.setProgress(position);
            ui_.setPercentText(std::to_string(ui_.progress()) + "%");

            if (!send(packet) && running()) return reportLinkLoss();
            ui_.armTimeout(ReplyTimeoutMs);
            ui_.clearTimeoutElapsed();

            bool answered = false;
            while (running() && !ui_.timeoutElapsed()) {
                ui_.pumpDelay(PollPauseUs);
                const auto reply = readOneByte(link_);
                if (!reply) continue;
                if (*reply == BlockAccepted) {
                    consecutiveFailures = 0;
                    ++blocksDone_;
                    if (report_.onBlockAccepted) report_.onBlockAccepted(acknowledgedBytes());
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
                if (*reply == Cancel && running()) {
                    ui_.setMessage(gbk("升级失败！！！文件长度超过芯片容量。"));
                    ui_.errorBox(gbk("升级失败！！！校验错误或文件长度超过芯片容量。"));
                    return end(UpgradeOutcome::ImageTooLarge);
                }
                if (*reply == BlockChecksumFailed && running()) {
                    ui_.setMessage(gbk("升级失败！！！校验错误。"));
                    ui_.errorBox(gbk("升级失败！！！校验错误或文件长度超过芯片容量。"));
                    return end(UpgradeOutcome::ChecksumFailed);
                }
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
                ui_.appendMessage(gbk("通讯超时！重发数据！\r\n"));
            }
            if (consecutiveFailures > MaxConsecutiveFailures || totalFailures_ > MaxTotalFailures) {
                ui_.setMessage(gbk("升级失败！！！通讯超时。"));
                ui_.errorBox(gbk("升级失败！！！通讯超时。"));
                return end(UpgradeOutcome::TooManyFailures);
            }
            if (blocksDone_ - blocksInImage >= -0.0000001) {
                // The image is only complete once the machine got the end mark.
                if (!send(EndOfImage) && running()) return reportLinkLoss();
                if (running()) return true;
            }
        }
    }

    void complete() {
        const std::uint32_t elapsed = ui_.tickCount() - startTick_;
        report_.elapsedMs = elapsed;
        if (report_.onCompleting) {
            end(UpgradeOutcome::Completed);
            report_.onCompleting(report_);
        }
        ui_.setProgress(100);
        ui_.appendMessage(gbk("升级完成！\r\n耗时:") + numberText(elapsed / 1000.0) + gbk("秒\r\n"));
        ui_.setFieldText(Field::Count, numberText(readNumber(ui_.fieldText(Field::Count)) + 1));
        ui_.pumpDelay(500000);
        ui_.tone(500, 500);
        ui_.showProgress(false);
        ui_.showPercent(false);
        ui_.startClock();
    }

    std::uint64_t acknowledgedBytes() const {
        const std::uint64_t bytes = std::uint64_t{blocksDone_} * BlockDataSize;
        return bytes < file_.image.size() ? bytes : file_.image.size();
    }

    MachineLink& link_;
    Ui& ui_;
    const UpgradeFile& file_;
    const MachineInfo& machine_;
    UpgradeReport& report_;
    std::uint32_t startTick_ = 0;
    std::uint32_t blocksDone_ = 0;
    std::uint32_t totalFailures_ = 0;
    std::uint32_t timeouts_ = 0;
    std::uint32_t rejectedBlocks_ = 0;
};

} // namespace

bool runUpgrade(MachineLink& link, const UpgradeFile& file, const MachineInfo& machine, UpgradeReport* report) {
    UpgradeReport local;
    UpgradeReport& target = report ? *report : local;
    // Between a block's acknowledgement and the next block this thread
    // wakes two or three times; each late wake-up is line time lost.
    askForPromptWakeups();
    return UpgradeRun(link, file, machine, target).run();
}

} // namespace mub
