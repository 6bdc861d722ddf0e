// SIGTERM and SIGHUP (a logout, `kill`, the terminal the window was started
// from closing) end the window the way its close request does, so the
// settings are saved. The signal handler only writes a byte to a socket;
// the GUI thread reads it through a notifier and calls `onSignal`, also from
// inside a nested wait of a run.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace mub {

class TerminationSignals : public QObject {
public:
    explicit TerminationSignals(std::function<void()> onSignal, QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    std::function<void()> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace mub
