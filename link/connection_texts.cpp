#include "link/connection_texts.h"

#include "platform/gbk_text.h"

namespace mub {

const ConnectionTexts& connectionTexts() {
    static const ConnectionTexts t{
        gbk("未检测到USB设备，请插上USB线或拔出USB线重新插入，然后打开机器电源。"),
        gbk("当前USB设备号被占用，请拔出其他相同设备或关闭其他机器电源。"),
        gbk("USB设备其他错误，请关闭机器电源，拔出USB线重新插入，然后打开机器电源。"),
        gbk("检测到USB设备，正在联机...\r\n"),
        gbk("设备被拔出或其他错误！！！请重新插拔USB连接线，然后打开机器电源。"),
        gbk("未检测到USB设备或USB设备号被占用，请重新插入USB线，然后打开机器电源！！！"),
        gbk("联机中..."),
        gbk("通讯连接超时！！！\r\n未检测到USB设备或USB设备号被占用，关闭其他程序，重新插入USB线，然后打开机器电源。"),
        gbk("设备被拔出或其他错误！！！请重新插拔USB线，然后打开机器电源。"),
        gbk("开始读取机器信息...\r\n"),
        gbk("联机失败！！！通讯超时！请选择其他波特率,或者检查串口设置是否正确。"),
        gbk("机器信息读取失败！请选择其他波特率,或者请重新插拔USB线。"),
        gbk("机器信息读取失败！请选择其他波特率,或者请重新插拔USB连接线。"),
        gbk("机器信息读取成功！\r\n"),
    };
    return t;
}

SessionEvent connectionEvent(SessionEventKind kind) {
    using K = SessionEventKind;
    const ConnectionTexts& t = connectionTexts();
    switch (kind) {
    case K::NoUsbDevice: return {kind, Pane::Replace, t.usbNoDevice};
    case K::UsbDeviceBusy: return {kind, Pane::Replace, t.usbBusy};
    case K::UsbDeviceError: return {kind, Pane::Replace, t.usbOther};
    case K::PortOpenError: return {kind, Pane::Replace, t.portBadStatus};
    case K::PortOpened: return {kind, Pane::Replace, t.connecting};
    case K::MachineFound: return {kind, Pane::Replace, t.deviceFound};
    case K::ProbeLost: return {kind, Pane::Replace, t.probeLost};
    case K::SearchTimedOut: return {kind, Pane::Replace, t.searchTimeout, t.searchTimeout};
    case K::LinkLost: return {kind, Pane::Replace, t.linkLost};
    case K::LinkConfirmed: return {kind, Pane::Append, t.readingInfo};
    case K::ConfirmFailed: return {kind, Pane::Replace, t.confirmFailed, t.confirmFailed};
    case K::InfoFailed: return {kind, Pane::Replace, t.infoFailedPane, t.infoFailedBox};
    case K::InfoRead: return {kind, Pane::Append, t.infoRead};
    default: return SessionEvent(kind);
    }
}

} // namespace mub
