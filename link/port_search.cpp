#include "link/port_search.h"

#include "link/connection_texts.h"
#include "link/machine_link.h"
#include "link/serial_transport.h"
#include "link/text_number.h"
#include "platform/port_access.h"

#include <algorithm>
#include <set>

namespace mub {
namespace {

constexpr int probesPerPort = 100;
constexpr int portAttemptLimit = 510;
constexpr int highestPort = 255;

} // namespace

std::vector<int> portSearchOrder(const std::vector<ListedSerialPort>& listed) {
    std::set<int> first, last;
    for (const auto& port : listed) {
        if (port.number < 1 || port.number > highestPort) continue;
        (port.bluetooth ? last : first).insert(port.number);
    }
    for (int n : first) last.erase(n); // listed twice: not Bluetooth after all
    std::vector<int> order(first.begin(), first.end());
    for (int n = 1; n <= highestPort; ++n)
        if (!first.count(n) && !last.count(n)) order.push_back(n);
    order.insert(order.end(), last.begin(), last.end());
    return order;
}

PortSearch::PortSearch(SerialTransport& serial, SearchHost& host)
    : serial_(serial), host_(host), order_(portSearchOrder(serial.listPorts())),
      currentPort_(host.link().portName) {}

// Tries ports from currentPort_ on until one answers the probe, the
// attempts run out (the time-out is shown) or Stop is pressed.
MachineSearch::Result PortSearch::find() {
    if (answered_) return Result::Found;
    MachineLink& link = host_.link();
    while (link.running) {
        link.waits().pumpDelay(10);
        serial_.close();
        serial_.setStatus(StatusOk);
        const std::int32_t port = portNumberOf(currentPort_);
        if (serial_.open(port, link.running) == StatusOk) {
            answered_ = probeOpenPort();
        } else if (deniedDevice_.empty()) {
            // Remember a device the operator may not open: the commonest
            // reason a machine is never found.
            std::string path = serial_.devicePath(port), group;
            if (deviceDeniesAccess(path, &group)) {
                deniedDevice_ = path;
                deniedGroup_ = group;
            }
        }
        if (answered_) return Result::Found;
        currentPort_ = "COM" + std::to_string(order_[next_]);
        next_ = (next_ + 1) % order_.size();
        if (++failedAttempts_ >= portAttemptLimit) {
            if (!link.running) return Result::NotFound;
            SessionEvent timedOut = connectionEvent(SessionEventKind::SearchTimedOut);
            if (!deniedDevice_.empty()) timedOut.box += "\r\n" + permissionDeniedLine(deniedDevice_, deniedGroup_);
            host_.tell(timedOut);
            return Result::GiveUp;
        }
    }
    return Result::NotFound;
}

bool PortSearch::probeOpenPort() {
    MachineLink& link = host_.link();
    if (host_.messagesAllowed() && link.running) {
        if (serial_.status() != StatusOk) {
            host_.tell(connectionEvent(SessionEventKind::PortOpenError));
            host_.setMessagesAllowed(false);
        } else {
            host_.tell(connectionEvent(SessionEventKind::PortOpened));
        }
    }
    if (serial_.status() != StatusOk || !link.running) return false;
    host_.setMessagesAllowed(true);
    if (!host_.probe(probesPerPort)) return false;
    link.portName = currentPort_;
    host_.tell(connectionEvent(SessionEventKind::MachineFound));
    return true;
}

// After a port answered, a send failure means the machine went away: search
// again, starting with the port that answered, with a fresh attempt budget.
void PortSearch::linkLost() {
    answered_ = false;
    currentPort_ = host_.link().portName;
    failedAttempts_ = 0;
}

} // namespace mub
