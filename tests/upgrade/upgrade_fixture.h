// A machine link in USB mode over the scripted machine, a recording window
// on the virtual clock, and a loaded upgrade file that matches the machine.
#pragma once

#include "app/session_view.h"
#include "link/bridge_transport.h"
#include "link/machine_link.h"
#include "platform/gbk_text.h"
#include "tests/support/fake_ui.h"
#include "tests/upgrade/scripted_machine.h"
#include "upgrade/program_title.h"
#include "upgrade/run_upgrade.h"
#include "upgrade_file/upgrade_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace mub::test {

inline Bytes patternImage(std::size_t length) {
    Bytes image(length);
    for (std::size_t i = 0; i < length; ++i) image[i] = static_cast<std::uint8_t>((i * 7 + i / 256) & 0xFF);
    return image;
}

// A title without the production-line mark: every identity check applies.
inline std::string strictTitle() { return programTitle().substr(0, programTitle().size() - 8); }

// The bridge over the scripted machine, with the words a port's driver
// would leave for the operator.
struct ScriptedTransport : BridgeTransport {
    using BridgeTransport::BridgeTransport;
    std::string fault() const override { return faultText; }
    std::string faultText;
};

class UpgradeFixture : public ::testing::Test {
protected:
    UpgradeFixture() {
        file.modelId = "AB12";
        file.hardwareVersion = "HW-A";
        file.softwareVersion = "2.0";
        file.image = patternImage(1024);
        file.loaded = true;
        link.running = true;
    }

    // The run as the window starts it: the checks its title asks for, its
    // counter, its question boxes.
    RunOptions windowOptions() {
        RunOptions options;
        options.rule = identityRuleOf(ui.title());
        options.counter = [this] { return ui.fieldText(Field::Count); };
        options.ask = [this](const SessionEvent& question) -> std::optional<bool> { return ui.askYesNo(question.box); };
        return options;
    }
    bool run() { return runUpgrade(link, file, identity, windowOptions(), view, &report); }

    // How many times exactly these bytes were written.
    std::size_t writesOf(const Bytes& packet) const {
        return static_cast<std::size_t>(std::count(machine.writes.begin(), machine.writes.end(), packet));
    }

    FakeUi ui{FakeUi::Clock::Virtual};
    ScriptedMachine machine;
    ScriptedTransport transport{&machine};
    MachineLink link{ui, transport};
    WindowSessionView view{ui};
    UpgradeFile file;
    MachineInfo identity{"AB12", "HW-A", "1.0"}; // what connectMachine read from the machine
    UpgradeReport report;
};

} // namespace mub::test
