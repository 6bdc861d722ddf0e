// The window's view of an upgrade session: each event becomes the pane
// text, box, control change or tone the window has always shown for it.
// Toolkit-free: it talks to the window through Ui, like the rest of the
// window logic.
#pragma once

#include "link/session_events.h"
#include "platform/ui.h"

#include <string>

namespace mub {

class WindowSessionView : public SessionObserver {
public:
    explicit WindowSessionView(Ui& ui) : ui_(ui) {}
    void on(const SessionEvent& event) override;

    // The reason the upgrade log could not be written, once; empty when
    // there is nothing (more) to tell.
    std::string takeLogFailure();

private:
    void finishUpgrade();

    Ui& ui_;
    std::string logFailure_;
};

// The upgrade button's caption when no upgrade runs.
const std::string& upgradeIdleCaption();

} // namespace mub
