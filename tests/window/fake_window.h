// The test window for the window logic: the recording Ui of tests/support
// plus a desktop that records boxes, started programs, opened addresses, the
// About window and the end of the process instead of reaching a desktop.
#pragma once

#include "app/desktop.h"
#include "app/settings/settings_file.h"
#include "tests/support/fake_ui.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace mub::test {

struct ShownBox {
    std::string title;
    std::string text;
    BoxIcon icon;
    bool yesNo;
};

class FakeWindow : public FakeUi, public Desktop {
public:
    using FakeUi::FakeUi;

    void setTitle(const std::string& title) override { windowTitle = title; }
    void selectBaudRate(int index) override {
        baudIndex = index;
        baudText = index >= 0 ? std::string(baudRateTexts.at(static_cast<std::size_t>(index))) : std::string();
    }
    void bringToFront() override { ++broughtToFront; }
    void raiseWindow() override { ++raised; }
    bool claimSingleInstance(const std::string& name) override {
        claimedName = name;
        return firstCopy;
    }
    bool registerUpgradeHotKey() override {
        hotKeyRegistered = true;
        return hotKeyAvailable;
    }
    void setOpenDialogFolder(const std::string& folder) override { openDialogFolder = folder; }
    bool messageBox(const std::string& title, const std::string& text, BoxIcon icon, bool yesNo) override {
        boxes.push_back({title, text, icon, yesNo});
        if (onBox) onBox();
        return true;
    }
    void showAbout(const std::string& title) override { aboutTitles.push_back(title); }
    std::string systemInfoProgram() override { return systemInfo; }
    void startProgram(const std::string& program) override { startedPrograms.push_back(program); }
    void openAddress(const std::string& address) override { openedAddresses.push_back(address); }
    void endProcess(int code) override {
        endedWith = code;
        if (onEnd) onEnd();
    }
    void runOnWindowThread(std::function<void()> task) override {
        std::lock_guard<std::mutex> guard(postedLock_);
        posted_.push_back(std::move(task));
    }
    // What other threads posted, run as the window's event loop would.
    void runPosted() {
        std::vector<std::function<void()>> tasks;
        {
            std::lock_guard<std::mutex> guard(postedLock_);
            tasks.swap(posted_);
        }
        for (const auto& task : tasks) task();
    }

    bool firstCopy = true; // what claimSingleInstance answers
    std::string claimedName;
    bool hotKeyRegistered = false; // asked for
    bool hotKeyAvailable = true;   // what the system answers
    std::optional<std::string> openDialogFolder;
    int broughtToFront = 0;
    int raised = 0;
    std::vector<ShownBox> boxes;
    std::function<void()> onBox;
    std::vector<std::string> aboutTitles;
    std::string systemInfo;
    std::vector<std::string> startedPrograms;
    std::vector<std::string> openedAddresses;
    std::optional<int> endedWith;
    std::function<void()> onEnd;

private:
    std::mutex postedLock_;
    std::vector<std::function<void()>> posted_;
};

} // namespace mub::test
