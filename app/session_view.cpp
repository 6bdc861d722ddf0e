#include "app/session_view.h"

#include "platform/gbk_text.h"

#include <utility>

namespace mub {
namespace {

Field machineField(IdentityText text) {
    switch (text) {
    case IdentityText::Model: return Field::MachineModel;
    case IdentityText::Hardware: return Field::MachineHardware;
    case IdentityText::Software: return Field::MachineSoftware;
    }
    return Field::MachineModel;
}

const std::string& stopCaption() {
    static const std::string text = gbk("停止");
    return text;
}

} // namespace

const std::string& upgradeIdleCaption() {
    static const std::string text = gbk("升级(F8)");
    return text;
}

void WindowSessionView::on(const SessionEvent& event) {
    using K = SessionEventKind;
    // The pane first, then what the event changes, then its box: a box waits
    // for the operator, and the window shows the new state behind it. The
    // completion's bar stands at 100 before its text comes.
    if (event.kind == K::Completed) ui_.setProgress(100);
    if (event.pane == Pane::Replace) ui_.setMessage(event.text);
    if (event.pane == Pane::Append) ui_.appendMessage(event.text);
    switch (event.kind) {
    case K::ConnectBegun:
        ui_.setEnabled(Control::BaudRateList, false);
        ui_.setEnabled(Control::OpenFileButton, false);
        for (Field f : {Field::MachineModel, Field::MachineHardware, Field::MachineSoftware}) ui_.setFieldText(f, {});
        break;
    case K::IdentityField: ui_.setFieldText(machineField(event.field), event.value); break;
    case K::UpdateBegun:
        ui_.setEnabled(Control::UpgradeButton, false);
        ui_.setEnabled(Control::DetectModelButton, false);
        break;
    case K::MachineReady:
        ui_.setProgress(0);
        ui_.showProgress(true);
        ui_.setPercentText(std::to_string(ui_.progress()));
        ui_.showPercent(true);
        ui_.stopClock();
        ui_.setStatusText(1, "");
        break;
    case K::Progress:
        ui_.setProgress(event.position);
        ui_.setPercentText(std::to_string(ui_.progress()) + "%");
        break;
    case K::Counter: ui_.setFieldText(Field::Count, event.value); break;
    case K::DisplayRestored:
        ui_.showProgress(false);
        ui_.showPercent(false);
        ui_.startClock();
        break;
    case K::Tone: ui_.tone(event.hertz, event.milliseconds); break;
    case K::UpgradeStarted:
        ui_.setCaption(Control::UpgradeButton, stopCaption());
        ui_.setEnabled(Control::DetectModelButton, false);
        break;
    case K::UpgradeFinished: finishUpgrade(); break;
    case K::CheckStarted:
        ui_.setCaption(Control::DetectModelButton, stopCaption());
        ui_.setEnabled(Control::UpgradeButton, false);
        break;
    case K::CheckFinished:
        ui_.setEnabled(Control::OpenFileButton, true);
        ui_.setEnabled(Control::BaudRateList, true);
        if (event.upgradeAllowed) ui_.setEnabled(Control::UpgradeButton, true);
        ui_.setCaption(Control::DetectModelButton, gbk("型号检测"));
        break;
    case K::LogFailed: logFailure_ = event.value; break;
    default: break;
    }
    // Questions are put by the session's ask; every other box follows here.
    if (!event.box.empty() && event.kind != K::Question) ui_.errorBox(event.box);
}

void WindowSessionView::finishUpgrade() {
    ui_.showProgress(false);
    ui_.showPercent(false);
    ui_.startClock();
    ui_.setEnabled(Control::OpenFileButton, true);
    ui_.setEnabled(Control::BaudRateList, true);
    ui_.setEnabled(Control::DetectModelButton, true);
    ui_.setEnabled(Control::UpgradeButton, true);
    ui_.focus(Control::UpgradeButton);
    ui_.setCaption(Control::UpgradeButton, upgradeIdleCaption());
}

std::string WindowSessionView::takeLogFailure() { return std::exchange(logFailure_, {}); }

} // namespace mub
