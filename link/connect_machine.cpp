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
    Connection(MachineLink& link, int baudIndex, SessionObserver& observer, std::chrono::microseconds probeGap)
        : link_(link), waits_(link.waits()), observer_(observer), baudIndex_(baudIndex), probeGap_(probeGap) {}
    std::optional<MachineInfo> run();

    MachineLink& link() override { return link_; }
    bool messagesAllowed() const override { return messagesAllowed_; }
    void setMessagesAllowed(bool allowed) override { messagesAllowed_ = allowed; }
    bool probe(int limit) override;
    void tell(const SessionEvent& event) override { observer_.on(event); }

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
    Waits& waits_;
    SessionObserver& observer_;
    const int baudIndex_;
    const std::chrono::microseconds probeGap_;
    std::unique_ptr<MachineSearch> search_;
    bool messagesAllowed_ = true;
};

std::optional<MachineInfo> Connection::run() {
    tell(SessionEvent(SessionEventKind::ConnectBegun));
    messagesAllowed_ = true;
    link_.running = true;
    Transport& transport = link_.transport();
    transport.useBaudRate(baudIndex_);
    search_ = transport.newSearch(*this);

    while (running()) {
        waits_.pumpDelay(10);
        const MachineSearch::Result found = search_->find();
        if (found == MachineSearch::Result::GiveUp) return std::nullopt;
        // A failure was announced, or Stop was pressed: look again, or end.
        if (found == MachineSearch::Result::NotFound) continue;
        MachineInfo machine;
        Step step = confirmLink();
        if (step == Step::Continue && messagesAllowed_) step = readMachineInfo(machine);
        if (step == Step::Succeeded) {
            SessionEvent identified(SessionEventKind::Identified);
            identified.machine = machine;
            tell(identified);
            return machine;
        }
        if (step == Step::Failed) return std::nullopt;
        // Otherwise a failure was announced (messagesAllowed_ is false): search again.
    }
    return std::nullopt;
}

bool Connection::probe(int limit) {
    for (int probe = 0; (limit == 0 || probe < limit) && running(); ++probe) {
        waits_.pumpDelay(10);
        if (send(Bytes{LinkProbe}) != StatusOk) {
            // A Stop closes the transport under the probe; its text stays.
            if (running()) tell(connectionEvent(SessionEventKind::ProbeLost));
            messagesAllowed_ = false;
            return false;
        }
        if (replyIsMark(link_.readPacket(4, true))) return true;
        if (probeGap_.count() > 0 && running()) waits_.pumpDelay(static_cast<std::int32_t>(probeGap_.count()));
    }
    return false;
}

Connection::Step Connection::confirmLink() {
    int tries = 0;
    while (messagesAllowed_) {
        waits_.pumpDelay(10);
        std::uint32_t status = send(toBytes(companyMark()));
        if (!running()) return Step::Failed;
        if (status != StatusOk) {
            tell(connectionEvent(SessionEventKind::LinkLost));
            messagesAllowed_ = false;
            linkLostAfterAnswer();
            return Step::Continue;
        }
        if (replyIsMark(link_.readPacket(4, true))) {
            tell(connectionEvent(SessionEventKind::LinkConfirmed));
            return Step::Continue;
        }
        if (++tries >= confirmationLimit && running()) {
            tell(connectionEvent(SessionEventKind::ConfirmFailed));
            return Step::Failed;
        }
    }
    return Step::Continue;
}

Connection::Step Connection::readMachineInfo(MachineInfo& machine) {
    const struct {
        std::uint8_t request;
        IdentityText field;
        std::string MachineInfo::*text;
    } requests[] = {{RequestModel, IdentityText::Model, &MachineInfo::model},
                    {RequestHardware, IdentityText::Hardware, &MachineInfo::hardware},
                    {RequestSoftware, IdentityText::Software, &MachineInfo::software}};

    for (const auto& r : requests) {
        int tries = 0;
        bool answered = false;
        while (messagesAllowed_ && !answered) {
            waits_.pumpDelay(10);
            std::uint32_t status = send(Bytes{r.request});
            if (status != StatusOk && running()) {
                tell(connectionEvent(SessionEventKind::LinkLost));
                messagesAllowed_ = false;
                linkLostAfterAnswer();
                break;
            }
            if (!running()) return Step::Failed;
            Bytes reply = link_.readPacket(0, false);
            link_.transport().clear();
            if (auto payload = checkFrame(reply)) {
                machine.*r.text = payloadText(*payload);
                SessionEvent read(SessionEventKind::IdentityField);
                read.field = r.field;
                read.value = machine.*r.text;
                tell(read);
                answered = true;
            } else if (++tries >= repliesPerRequest && running()) {
                tell(connectionEvent(SessionEventKind::InfoFailed));
                return Step::Failed;
            }
        }
        if (!answered) return Step::Continue;
    }
    tell(connectionEvent(SessionEventKind::InfoRead));
    waits_.pumpDelay(1);
    tell(toneEvent(500, 500));
    return Step::Succeeded;
}

} // namespace

std::optional<MachineInfo> connectMachine(MachineLink& link, int baudIndex, SessionObserver& observer,
                                          std::chrono::microseconds probeGap) {
    return Connection(link, baudIndex, observer, probeGap).run();
}

} // namespace mub
