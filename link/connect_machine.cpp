#include "link/connect_machine.h"

#include "link/frame.h"
#include "link/machine_link.h"
#include "link/port_access.h"
#include "link/protocol.h"
#include "platform/gbk_text.h"
#include "upgrade_file/key_setup.h"

#include <climits>
#include <cmath>
#include <cstdlib>

namespace mub {

namespace {

constexpr int probesPerPort = 100;
constexpr int portAttemptLimit = 510;
constexpr int confirmationLimit = 10;
constexpr int repliesPerRequest = 4;
constexpr int highestPort = 255;

struct Texts {
    std::string usbNoDevice = gbk("未检测到USB设备，请插上USB线或拔出USB线重新插入，然后打开机器电源。");
    std::string usbBusy = gbk("当前USB设备号被占用，请拔出其他相同设备或关闭其他机器电源。");
    std::string usbOther = gbk("USB设备其他错误，请关闭机器电源，拔出USB线重新插入，然后打开机器电源。");
    std::string deviceFound = gbk("检测到USB设备，正在联机...\r\n");
    std::string probeLost = gbk("设备被拔出或其他错误！！！请重新插拔USB连接线，然后打开机器电源。");
    std::string portBadStatus = gbk("未检测到USB设备或USB设备号被占用，请重新插入USB线，然后打开机器电源！！！");
    std::string connecting = gbk("联机中...");
    std::string searchTimeout =
        gbk("通讯连接超时！！！\r\n未检测到USB设备或USB设备号被占用，关闭其他程序，重新插入USB线，然后打开机器电源。");
    std::string linkLost = gbk("设备被拔出或其他错误！！！请重新插拔USB线，然后打开机器电源。");
    std::string readingInfo = gbk("开始读取机器信息...\r\n");
    std::string confirmFailed = gbk("联机失败！！！通讯超时！请选择其他波特率,或者检查串口设置是否正确。");
    std::string infoFailedPane = gbk("机器信息读取失败！请选择其他波特率,或者请重新插拔USB线。");
    std::string infoFailedBox = gbk("机器信息读取失败！请选择其他波特率,或者请重新插拔USB连接线。");
    std::string infoRead = gbk("机器信息读取成功！\r\n");
};

const Texts& texts() {
    static const Texts t;
    return t;
}

// The leading decimal number of a text, truncated to an int (0 when none).
std::int32_t leadingInteger(const std::string& text, bool allowFraction) {
    const char* begin = text.c_str();
    char* end = nullptr;
    double value = allowFraction ? std::strtod(begin, &end) : static_cast<double>(std::strtoll(begin, &end, 10));
    if (end == begin || !std::isfinite(value)) return 0;
    value = std::trunc(value);
    if (value > INT32_MAX || value < INT32_MIN) return 0;
    return static_cast<std::int32_t>(value);
}

// "COM7" -> 7; the text after the first three characters, read as a number.
std::int32_t portNumberOf(const std::string& portName) {
    return portName.size() <= 3 ? 0 : leadingInteger(portName.substr(3), false);
}

// One call: the state of the search and the handshake across main-loop passes.
class Connection {
public:
    explicit Connection(MachineLink& link) : link_(link), ui_(link.ui()) {}
    bool run();

private:
    enum class Step { Continue, Succeeded, Failed };

    bool findUsbMachine();
    bool findComMachine();
    bool probeOpenPort();
    Step confirmLink();
    Step readMachineInfo();
    void linkLostAfterAnswer();
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
    bool messagesAllowed_ = true;
    std::uint8_t modeRecord_[4] = {0x01, 0xFF, 0x00, 0x01};

    // COM search state; kept for the whole call.
    std::string currentPort_;
    int portIndex_ = 0;
    int failedAttempts_ = 0;
    bool portAnswered_ = false;
    std::string deniedDevice_, deniedGroup_;
};

bool Connection::run() {
    const Texts& t = texts();
    ui_.setEnabled(Control::BaudRateList, false);
    ui_.setEnabled(Control::OpenFileButton, false);
    for (Field f : {Field::MachineModel, Field::MachineHardware, Field::MachineSoftware}) ui_.setFieldText(f, {});
    messagesAllowed_ = true;
    link_.running = true;

    if (link_.usbMode()) {
        modeRecord_[1] = static_cast<std::uint8_t>(ui_.selectedBaudIndex() & 0xFF);
    } else {
        link_.serialSettings.baudRate = leadingInteger(ui_.selectedBaudText(), true);
        currentPort_ = link_.portName;
    }

    while (running()) {
        ui_.pumpDelay(10);
        if (link_.usbMode()) {
            findUsbMachine();
        } else if (!portAnswered_) {
            if (!findComMachine()) {
                if (!running()) return false;
                std::string box = t.searchTimeout;
                if (!deniedDevice_.empty()) box += "\r\n" + permissionDeniedLine(deniedDevice_, deniedGroup_);
                ui_.setMessage(t.searchTimeout);
                ui_.errorBox(box);
                return false;
            }
        }
        Step step = confirmLink();
        if (step == Step::Continue && messagesAllowed_) step = readMachineInfo();
        if (step == Step::Succeeded) return true;
        if (step == Step::Failed) return false;
        // Otherwise a failure was announced (messagesAllowed_ is false): search again.
    }
    return false;
}

bool Connection::findUsbMachine() {
    const Texts& t = texts();
    BridgeLibrary* bridge = link_.bridge();
    BridgeParams& params = link_.bridgeParams();
    std::uint32_t status = bridge ? lowWord32(bridge->connectBridge(params, 1)) : StatusNoDevice;
    link_.setLinkStatus(status);
    if (bridge) bridge->clearDevBuffer(params);

    if (messagesAllowed_ && running() && status != StatusOk) {
        if (status == StatusNoDevice)
            ui_.setMessage(t.usbNoDevice);
        else if (status == StatusDeviceBusy)
            ui_.setMessage(t.usbBusy);
        else
            ui_.setMessage(t.usbOther);
        messagesAllowed_ = false;
    }
    if (status != StatusOk || !running()) return false;

    bridge->setMode(params, modeRecord_, 4);
    ui_.setMessage(t.deviceFound);
    messagesAllowed_ = true;
    while (running()) {
        ui_.pumpDelay(10);
        if (send(Bytes{LinkProbe}) != StatusOk) {
            if (running()) ui_.setMessage(t.probeLost);
            messagesAllowed_ = false;
            return false;
        }
        if (replyIsMark(link_.readPacket(4, true))) return true;
    }
    return false;
}

// Tries ports from currentPort_ on until one answers the probe (true), or the
// attempts run out or Stop is pressed (false).
bool Connection::findComMachine() {
    SerialChannel& serial = link_.serial();
    while (!portAnswered_ && running()) {
        ui_.pumpDelay(10);
        serial.close();
        link_.setLinkStatus(StatusOk);
        const std::int32_t port = portNumberOf(currentPort_);
        // The handlers outlive this call (the channel stays open for the
        // upgrade run), so they hold the link, not this object.
        MachineLink* link = &link_;
        bool opened = serial.open(
            port, link_.serialSettings,
            [link](const std::uint8_t* bytes, std::int32_t count) { link->onSerialData(bytes, count); },
            [](std::int32_t) {},
            [link](std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) { link->onSerialStatus(a, b, c, d); },
            [link](const std::string& text) { link->onSerialError(text); });
        if (opened) {
            portAnswered_ = probeOpenPort();
        } else {
            // Remember a device the operator may not open: the commonest reason
            // a machine is never found.
            std::string path = serial.ports().devicePath(port), group;
            if (deniedDevice_.empty() && deviceDeniesAccess(path, &group)) {
                deniedDevice_ = path;
                deniedGroup_ = group;
            }
        }
        if (portAnswered_) return true;
        portIndex_ = portIndex_ >= highestPort ? 1 : portIndex_ + 1;
        currentPort_ = "COM" + std::to_string(portIndex_);
        if (++failedAttempts_ >= portAttemptLimit) return false;
    }
    return portAnswered_;
}

bool Connection::probeOpenPort() {
    const Texts& t = texts();
    if (messagesAllowed_ && running()) {
        if (link_.linkStatus() != StatusOk) {
            ui_.setMessage(t.portBadStatus);
            messagesAllowed_ = false;
        } else {
            ui_.setMessage(t.connecting);
        }
    }
    if (link_.linkStatus() != StatusOk || !running()) return false;
    messagesAllowed_ = true;
    for (int probe = 0; probe < probesPerPort && running(); ++probe) {
        ui_.pumpDelay(10);
        if (send(Bytes{LinkProbe}) != StatusOk) {
            // A Stop closes the port under the probe; its text stays.
            if (running()) ui_.setMessage(t.probeLost);
            messagesAllowed_ = false;
            return false;
        }
        if (replyIsMark(link_.readPacket(4, true))) {
            link_.portName = currentPort_;
            ui_.setMessage(t.deviceFound);
            return true;
        }
    }
    return false;
}

// After a port answered, a send failure means the machine went away: search
// again, starting with the port that answered, with a fresh attempt budget.
void Connection::linkLostAfterAnswer() {
    if (link_.usbMode()) return;
    portAnswered_ = false;
    currentPort_ = link_.portName;
    failedAttempts_ = 0;
}

Connection::Step Connection::confirmLink() {
    const Texts& t = texts();
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

Connection::Step Connection::readMachineInfo() {
    const Texts& t = texts();
    const struct {
        std::uint8_t request;
        Field field;
    } requests[] = {{RequestModel, Field::MachineModel},
                    {RequestHardware, Field::MachineHardware},
                    {RequestSoftware, Field::MachineSoftware}};

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
            if (link_.usbMode() && link_.bridge()) link_.bridge()->clearDevBuffer(link_.bridgeParams());
            if (auto payload = checkFrame(reply)) {
                ui_.setFieldText(r.field, payloadText(*payload));
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

bool connectMachine(MachineLink& link) { return Connection(link).run(); }

} // namespace mub
