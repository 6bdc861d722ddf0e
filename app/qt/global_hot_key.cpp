#include "app/qt/global_hot_key.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>

#include <xcb/xcb.h>

#include <array>
#include <cstdlib>

namespace mub {

namespace {

constexpr std::uint32_t keySymF8 = 0xFFC5;

// F8 also counts when only the lock modifiers are on.
constexpr std::array<std::uint16_t, 4> lockMasks{0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                                 XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

xcb_connection_t* x11Connection() {
#if QT_CONFIG(xcb)
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
#else
    return nullptr;
#endif
}

std::uint8_t findKeyCode(xcb_connection_t* connection, std::uint32_t keySym) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    std::uint8_t first = setup->min_keycode;
    std::uint8_t count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    xcb_get_keyboard_mapping_reply_t* reply =
        xcb_get_keyboard_mapping_reply(connection, xcb_get_keyboard_mapping(connection, first, count), nullptr);
    if (!reply) return 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
    int perCode = reply->keysyms_per_keycode;
    std::uint8_t found = 0;
    for (int code = 0; code < count && !found; ++code)
        for (int i = 0; i < perCode; ++i)
            if (syms[code * perCode + i] == keySym) {
                found = static_cast<std::uint8_t>(first + code);
                break;
            }
    std::free(reply);
    return found;
}

} // namespace

GlobalHotKey::GlobalHotKey(QObject* parent) : QObject(parent) {}

GlobalHotKey::~GlobalHotKey() { release(); }

bool GlobalHotKey::registerF8() {
    if (keyCode_) return true;
    xcb_connection_t* connection = x11Connection();
    if (!connection) return false;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen) return false;
    std::uint8_t code = findKeyCode(connection, keySymF8);
    if (!code) return false;

    bool refused = false;
    for (std::uint16_t mask : lockMasks) {
        xcb_void_cookie_t cookie = xcb_grab_key_checked(connection, 0, screen->root, mask, code,
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t* error = xcb_request_check(connection, cookie)) {
            std::free(error);
            refused = true; // another program holds F8
        }
    }
    if (refused) {
        for (std::uint16_t mask : lockMasks) xcb_ungrab_key(connection, code, screen->root, mask);
        xcb_flush(connection);
        return false;
    }
    keyCode_ = code;
    root_ = screen->root;
    QCoreApplication::instance()->installNativeEventFilter(this);
    return true;
}

void GlobalHotKey::release() {
    if (!keyCode_) return;
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
    if (xcb_connection_t* connection = x11Connection()) {
        for (std::uint16_t mask : lockMasks) xcb_ungrab_key(connection, keyCode_, root_, mask);
        xcb_flush(connection);
    }
    keyCode_ = 0;
}

bool GlobalHotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (!keyCode_ || eventType != "xcb_generic_event_t") return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    const std::uint8_t type = event->response_type & 0x7F;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return false;
    // A release event has the layout of a press event.
    auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
    if (key->detail != keyCode_ || key->event != root_) return false;
    if (type == XCB_KEY_RELEASE) {
        repeats_.release(key->time);
        return true;
    }
    std::uint16_t others = static_cast<std::uint16_t>(key->state & ~(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2));
    if (others & (XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4)) return false;
    if (!repeats_.press(key->time)) return true;
    // Queued: the action (a whole upgrade run) must not run inside the
    // toolkit's event dispatch.
    QMetaObject::invokeMethod(this, &GlobalHotKey::pressed, Qt::QueuedConnection);
    return true;
}

} // namespace mub
