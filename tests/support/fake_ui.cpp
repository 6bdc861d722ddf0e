#include "tests/support/fake_ui.h"

#include "platform/gbk_text.h"
#include "upgrade/program_title.h"

#include <thread>

namespace mub::test {

FakeUi::FakeUi(Clock clock) : clock_(clock), start_(std::chrono::steady_clock::now()) {
    windowTitle = programTitle();
    captions_[Control::UpgradeButton] = gbk("升级(F8)");
    captions_[Control::DetectModelButton] = gbk("型号检测");
    for (Control c : {Control::UpgradeButton, Control::DetectModelButton, Control::OpenFileButton,
                      Control::ClearCountButton, Control::BaudRateList})
        enabled_[c] = true;
    fields_.emplace(Field::Count, std::string(1, '0'));
}

void FakeUi::setMessage(const std::string& text) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        pane_ = text;
        messages_.push_back(text);
    }
    if (onMessage) onMessage(text);
}

void FakeUi::appendMessage(const std::string& text) {
    std::lock_guard<std::mutex> guard(mutex_);
    pane_ += text;
}

std::string FakeUi::pane() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return pane_;
}

std::vector<std::string> FakeUi::shownMessages() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return messages_;
}

std::string FakeUi::fieldText(Field field) const {
    auto it = fields_.find(field);
    return it == fields_.end() ? std::string() : it->second;
}

void FakeUi::setFieldText(Field field, const std::string& text) { fields_[field] = text; }

void FakeUi::setEnabled(Control control, bool enabled) { enabled_[control] = enabled; }

bool FakeUi::isEnabled(Control control) const {
    auto it = enabled_.find(control);
    return it != enabled_.end() && it->second;
}

std::string FakeUi::caption(Control control) const {
    auto it = captions_.find(control);
    return it == captions_.end() ? std::string() : it->second;
}

void FakeUi::setCaption(Control control, const std::string& text) { captions_[control] = text; }

void FakeUi::setProgress(int position) {
    progressPosition = position;
    progressHistory.push_back(position);
}

void FakeUi::armTimeout(int milliseconds) {
    timeoutDeadline_ = nowMicros() + std::int64_t{milliseconds} * 1000;
    timeoutFlag_ = false;
}

bool FakeUi::timeoutElapsed() const {
    return timeoutFlag_ || (timeoutDeadline_ >= 0 && nowMicros() >= timeoutDeadline_);
}

void FakeUi::clearTimeoutElapsed() {
    // Like a ticking timer: the flag rises again one interval later.
    timeoutFlag_ = false;
    if (timeoutDeadline_ >= 0 && nowMicros() >= timeoutDeadline_) timeoutDeadline_ = -1;
}

void FakeUi::errorBox(const std::string& text) { errorBoxes.push_back(text); }

bool FakeUi::askYesNo(const std::string& text) {
    questions.push_back(text);
    if (answers.empty()) return false;
    bool answer = answers.front();
    answers.pop_front();
    return answer;
}

bool FakeUi::chooseOpenFile(std::string& path) {
    ++openDialogsShown;
    if (openFileChoices.empty()) return false;
    path = openFileChoices.front();
    openFileChoices.pop_front();
    return true;
}

void FakeUi::tone(int hertz, int milliseconds) {
    tones.emplace_back(hertz, milliseconds);
    if (clock_ == Clock::Virtual) virtualMicros_ += std::int64_t{milliseconds} * 1000;
}

std::int64_t FakeUi::nowMicros() const {
    if (clock_ == Clock::Virtual) return virtualMicros_.load();
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_).count();
}

std::uint32_t FakeUi::tickCount() const { return static_cast<std::uint32_t>(nowMicros() / 1000); }

void FakeUi::pumpDelay(std::int32_t microseconds) {
    if (onPump) onPump();
    if (clock_ == Clock::Virtual) {
        virtualMicros_ += microseconds < 1 ? 1 : microseconds;
        return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
}

void FakeUi::pumpWait(std::int32_t microseconds) {
    if (onPump) onPump();
    if (clock_ == Clock::Virtual) {
        // A wake since the last wait ends this one at once.
        std::lock_guard<std::mutex> guard(mutex_);
        if (!woken_) virtualMicros_ += microseconds < 1 ? 1 : microseconds;
        woken_ = false;
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    wakeCv_.wait_for(lock, std::chrono::microseconds(microseconds), [this] { return woken_; });
    woken_ = false;
}

void FakeUi::wake() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        woken_ = true;
    }
    wakeCv_.notify_all();
}

} // namespace mub::test
