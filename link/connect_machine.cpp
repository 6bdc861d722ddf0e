#include "link/connect_machine.h"

#include "link/connection_texts.h"
#include "link/machine_link.h"
#include "link/machine_search.h"
#include "link/protocol.h"
#include "upgrade_file/key_setup.h"

#include <memory>

namespace mub {

namespace {

constexpr int confirmationLimit = 10;
constexpr int repliesPerRequest = 4;

// One call: the state of the search and the handshake across main-loop passes.
class Connection : public SearchHost {
public:
    explicit Connection(MachineLink& link) : link_(link), ui_(link.ui()) {}
    std::optional<MachineInfo> run();

    MachineLink& link() override { return link_; }
    bool messagesAllowed() const override { return messagesAllowed_; }
    void setMessagesAllowed(bool allowed) override { messagesAllowed_ = allowed; }
    bool probe(int limit) override;

private:
    enum class Step { Continue, Succeeded, Failed };

    Step confirmLink();
    Step readMachineInfo(MachineInfo& machine);
    void linkLostAfterAnswer() { search_->linkLost(); }
    // The reply read as a text (up to its first zero byte) is the mark.
    bool replyIsMark(const Bytes& reply) const { return payloadText(reply) == companyMark(); }
    std::uint32_t send(const Bytes& bytes) {
        std::uint32_t status = link_.writePacket(bytes);
        link_.setLinkStatus(status);
        return status;
    }
    bool running() const { return link_.running.load(); }

    MachineLink& link_;
    Ui& ui_;
    std::unique_ptr<MachineSearch> search_;
    bool messagesAllowed_ = true;
};

std::optional<MachineInfo> Connection::run() {
    ui_.setEnabled(Control::BaudRateList, false);
    ui_.setEnabled(Control::OpenFileButton, false);
    for (Field f : {Field::MachineModel, Field::MachineHardware, Field::MachineSoftware}) ui_.setFieldText(f, {});
    messagesAllowed_ = true;
    link_.running = true;
    Transport& transport = link_.transport();
    transport.useBaudRate(ui_.selectedBaudText(), ui_.selectedBaudIndex());
    search_ = transport.newSearch(*this);

    while (running()) {
        ui_.pumpDelay(10);
        const MachineSearch::Result found = search_->find();
        if (found == MachineSearch::Result::GiveUp) return std::nullopt;
        // A failure was announced, or Stop was pressed: look again, or end.
        if (found == MachineSearch::Result::NotFound) continue;
        MachineInfo machine;
        Step step = confirmLink();
        if (step == Step::Continue && messagesAllowed_) step = readMachineInfo(machine);
        if (step == Step::Succeeded) return machine;
        if (step == Step::Failed) return std::nullopt;
        // Otherwise a failure was announced (messagesAllowed_ is false): search again.
    }
    return std::nullopt;
}

bool Connection::probe(int limit) {
    const ConnectionTexts& t = connectionTexts();
    for (int probe = 0; (limit == 0 || probe < limit) && running(); ++probe) {
        ui_.pumpDelay(10);
        if (send(Bytes{LinkProbe}) != StatusOk) {
            // A Stop closes the transport under the probe; its text stays.
            if (running()) ui_.setMessage(t.probeLost);
            messagesAllowed_ = false;
            return false;
        }
        if (replyIsMark(link_.readPacket(4, true))) return true;
    }
    return false;
}

Connection::Step Connection::confirmLink() {
    const ConnectionTexts& t = connectionTexts();
    int tries = 0;
    while (messagesAllowed_) {
        ui_.pumpDelay(10);
        std::uint32_t status = send(toBytes(companyMark()));
        if (!running()) return Step::Failed;
        if (status != StatusOk) {
            ui_.setMessage(t.linkLost);
            messagesAllowed_ = false;
            linkLostAfterAnswer();
            return Step::Continue;
        }
        if (replyIsMark(link_.readPacket(4, true))) {
            ui_.appendMessage(t.readingInfo);
            return Step::Continue;
        }
        if (++tries >= confirmationLimit && running()) {
            ui_.setMessage(t.confirmFailed);
            ui_.errorBox(t.confirmFailed);
            return Step::Failed;
        }
    }
    return Step::Continue;
}

Connection::Step Connection::readMachineInfo(MachineInfo& machine) {
    const ConnectionTexts& t = connectionTexts();
    const struct {
        std::uint8_t request;
        Field field;
        std::string MachineInfo::*text;
    } requests[] = {{RequestModel, Field::MachineModel, &MachineInfo::model},
                    {RequestHardware, Field::MachineHardware, &MachineInfo::hardware},
                    {RequestSoftware, Field::MachineSoftware, &MachineInfo::software}};

    for (const auto& r : requests) {
        int tries = 0;
        bool answered = false;
        while (messagesAllowed_ && !answered) {
            ui_.pumpDelay(10);
            std::uint32_t status = send(Bytes{r.request});
            if (status != StatusOk && running()) {
                ui_.setMessage(t.linkLost);
                messagesAllowed_ = false;
                linkLostAfterAnswer();
                break;
            }
            if (!running()) return Step::Failed;
            Bytes reply = link_.readPacket(0, false);
            link_.transport().clear();
            if (auto payload = checkFrame(reply)) {
                machine.*r.text = payloadText(*payload);
                ui_.setFieldText(r.field, machine.*r.text);
                answered = true;
            } else if (++tries >= repliesPerRequest && running()) {
                ui_.setMessage(t.infoFailedPane);
                ui_.errorBox(t.infoFailedBox);
                return Step::Failed;
            }
        }
        if (!answered) return Step::Continue;
    }
    ui_.appendMessage(t.infoRead);
    ui_.pumpDelay(1);
    ui_.tone(500, 500);
    return Step::Succeeded;
}

} // namespace

std::optional<MachineInfo> connectMachine(MachineLink& link) { return Connection(link).run(); }

} // namespace mub
