// The logic's events shown in a recording window, as the real window shows
// them: tests of connecting, upgrading and model checking assert on the
// pane, the fields and the boxes they always had.
#pragma once

#include "app/session_view.h"
#include "link/connect_machine.h"
#include "tests/support/fake_ui.h"

#include <optional>

namespace mub::test {

// connectMachine at the window's selected baud-rate item, told to the window.
inline std::optional<MachineInfo> connectInWindow(MachineLink& link, FakeUi& ui) {
    WindowSessionView view(ui);
    return connectMachine(link, ui.baudIndex, view);
}

} // namespace mub::test
