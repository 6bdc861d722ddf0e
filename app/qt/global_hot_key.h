// F8 without modifiers, system-wide: a passive key grab on the X11 root
// window. Presses are delivered as a queued signal on the GUI thread, so the
// action runs from the event loop like a click. A key held down repeats in
// the X server; a repeat is not a new press and is not delivered.
#pragma once

#include "app/key_repeat_filter.h"

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>

namespace mub {

class GlobalHotKey : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit GlobalHotKey(QObject* parent = nullptr);
    ~GlobalHotKey() override;

    // Grabs F8. False without an X11 display or when another program holds
    // the key; the program then runs on without it.
    bool registerF8();
    bool isRegistered() const { return keyCode_ != 0; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void pressed();

private:
    void release();

    std::uint8_t keyCode_ = 0;
    std::uint32_t root_ = 0;
    KeyRepeatFilter repeats_;
};

} // namespace mub
