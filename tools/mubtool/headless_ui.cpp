#include "tools/mubtool/headless_ui.h"

#include "platform/gbk_text.h"

#include <algorithm>

namespace mub::tool {

namespace {
// The longest sleep between two looks at the stop flag.
constexpr std::chrono::milliseconds stopSlice{5};
} // namespace

HeadlessUi::HeadlessUi(std::string title, std::string baudText, int baudIndex)
    : title_(std::move(title)), baudText_(std::move(baudText)), baudIndex_(baudIndex), start_(Clock::now()) {
    captions_[Control::UpgradeButton] = gbk("升级(F8)");
    captions_[Control::DetectModelButton] = gbk("型号检测");
    fields_[Field::Count] = std::string(1, '0'); // the counter starts at 0
}

std::string HeadlessUi::fieldText(Field field) const {
    auto it = fields_.find(field);
    return it == fields_.end() ? std::string() : it->second;
}

void HeadlessUi::setFieldText(Field field, const std::string& text) { fields_[field] = text; }

void HeadlessUi::setEnabled(Control control, bool enabled) { enabled_[control] = enabled; }

bool HeadlessUi::isEnabled(Control control) const {
    auto it = enabled_.find(control);
    return it == enabled_.end() || it->second;
}

std::string HeadlessUi::caption(Control control) const {
    auto it = captions_.find(control);
    return it == captions_.end() ? std::string() : it->second;
}

void HeadlessUi::setCaption(Control control, const std::string& text) { captions_[control] = text; }

void HeadlessUi::armTimeout(int milliseconds) {
    timeoutInterval_ = std::chrono::milliseconds(milliseconds);
    timeoutDeadline_ = Clock::now() + timeoutInterval_;
    timeoutArmed_ = true;
}

bool HeadlessUi::timeoutElapsed() const { return timeoutArmed_ && Clock::now() >= timeoutDeadline_; }

void HeadlessUi::clearTimeoutElapsed() {
    // A ticking timer: once cleared, the flag rises again one interval after
    // the tick that set it.
    if (!timeoutArmed_) return;
    const auto now = Clock::now();
    if (now < timeoutDeadline_) return;
    if (timeoutInterval_ <= Clock::duration::zero()) {
        timeoutDeadline_ = now;
        return;
    }
    while (timeoutDeadline_ <= now) timeoutDeadline_ += timeoutInterval_;
}

void HeadlessUi::tone(int, int milliseconds) {
    // No sound without a window; the pause keeps the run's timing.
    pause(std::chrono::milliseconds(milliseconds));
}

void HeadlessUi::pause(Clock::duration length) {
    pause(std::chrono::ceil<std::chrono::microseconds>(length), false);
}

void HeadlessUi::pause(std::chrono::microseconds length, bool wakeable) {
    Pauses pauses(*this, !wakeable);
    pauseHandlingEvents(pauses, length, wakeable);
}

void HeadlessUi::Pauses::waitForEvents(Clock::time_point deadline, bool wakeable) {
    ui_.wakes_.sleepUntil(std::min(deadline, Clock::now() + stopSlice), wakeable);
}

std::uint32_t HeadlessUi::tickCount() const {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
    return static_cast<std::uint32_t>(ms);
}

void HeadlessUi::deliverStop() {
    if (!stopDelivered_ && stopAsked()) {
        stopDelivered_ = true;
        if (onStop) onStop();
    }
}

void HeadlessUi::pumpDelay(std::int32_t microseconds) { pause(std::chrono::microseconds(microseconds), false); }

void HeadlessUi::pumpWait(std::int32_t microseconds) { pause(std::chrono::microseconds(microseconds), true); }

void HeadlessUi::wake() { wakes_.wake(); }

} // namespace mub::tool
