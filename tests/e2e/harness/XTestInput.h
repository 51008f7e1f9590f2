// Presses keys and mouse buttons through XTEST, the way a real keyboard would, on an X
// connection of its own. Unlike `xdotool key Control_R` (which also presses Control_L) it sends
// exactly the key asked for, and it costs no process start, so benchmarks can time with it.
//
//   XTestInput input;                         // the display of $DISPLAY
//   input.tap(XK_Control_R); input.tap(XK_Control_R);
//   input.sync();                             // the server has taken all of it
#pragma once

#include <QByteArray>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace quillet::e2e {

class XTestInput {
public:
    explicit XTestInput(const QByteArray& displayName = {})
        : connection(xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), nullptr)) {
        if (xcb_connection_has_error(connection)) return;
        const xcb_setup_t* setup = xcb_get_setup(connection);
        minKeycode = setup->min_keycode;
        const auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
        auto* reply = xcb_get_keyboard_mapping_reply(connection, xcb_get_keyboard_mapping(connection, minKeycode, count), nullptr);
        if (!reply) return;
        mapping.reset(reply);
    }
    ~XTestInput() { xcb_disconnect(connection); }
    XTestInput(const XTestInput&) = delete;
    XTestInput& operator=(const XTestInput&) = delete;

    bool isValid() const { return !xcb_connection_has_error(connection) && mapping; }

    // The first key code whose first symbol is `keysym`, then any that carries it; 0 if none.
    std::uint8_t keycode(std::uint32_t keysym) const {
        if (!mapping) return 0;
        const std::uint32_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
        const int length = xcb_get_keyboard_mapping_keysyms_length(mapping.get());
        const int perKey = mapping->keysyms_per_keycode;
        for (int column = 0; column < perKey; ++column) {
            for (int index = column; index < length; index += perKey) {
                if (keysyms[index] == keysym) return static_cast<std::uint8_t>(minKeycode + index / perKey);
            }
        }
        return 0;
    }

    void press(std::uint32_t keysym) { fake(XCB_KEY_PRESS, keycode(keysym)); }
    void release(std::uint32_t keysym) { fake(XCB_KEY_RELEASE, keycode(keysym)); }
    void tap(std::uint32_t keysym) {
        press(keysym);
        release(keysym);
    }
    // Two taps, as a double press, taken by the server when this returns.
    void twice(std::uint32_t keysym) {
        tap(keysym);
        tap(keysym);
        sync();
    }
    void click(std::uint8_t button) {
        fake(XCB_BUTTON_PRESS, button);
        fake(XCB_BUTTON_RELEASE, button);
    }

    // Sends what is queued without waiting.
    void flush() { xcb_flush(connection); }
    // Sends what is queued and waits until the server has processed it.
    void sync() { std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr)); }

private:
    struct FreeDeleter {
        void operator()(void* pointer) const { std::free(pointer); }
    };

    void fake(std::uint8_t type, std::uint8_t detail) {
        if (detail == 0) return;
        xcb_test_fake_input(connection, type, detail, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }

    xcb_connection_t* connection;
    std::uint8_t minKeycode = 8;
    std::unique_ptr<xcb_get_keyboard_mapping_reply_t, FreeDeleter> mapping;
};

}  // namespace quillet::e2e
