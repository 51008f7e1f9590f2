// Single pixels of the root window and the clipboard's owner, read on an X connection of the
// benchmark's own, so what it sees is what the server shows, not what the program under test
// believes it drew.
#pragma once

#include <QPoint>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace quillet::bench {

class PixelProbe {
public:
    PixelProbe() : connection(xcb_connect(nullptr, nullptr)) {
        root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        const char name[] = "CLIPBOARD";
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
        clipboard = atom ? atom->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(atom);
    }
    ~PixelProbe() { xcb_disconnect(connection); }
    PixelProbe(const PixelProbe&) = delete;
    PixelProbe& operator=(const PixelProbe&) = delete;

    // 0xRRGGBB.
    std::uint32_t at(QPoint point) {
        xcb_get_image_reply_t* reply = xcb_get_image_reply(
            connection,
            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, static_cast<std::int16_t>(point.x()),
                          static_cast<std::int16_t>(point.y()), 1, 1, ~0u),
            nullptr);
        if (!reply) return 0;
        std::uint32_t value = 0;
        std::memcpy(&value, xcb_get_image_data(reply), 4);
        std::free(reply);
        return value & 0xffffffu;
    }

    xcb_window_t clipboardOwner() {
        xcb_get_selection_owner_reply_t* reply =
            xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, clipboard), nullptr);
        const xcb_window_t owner = reply ? reply->owner : XCB_NONE;
        std::free(reply);
        return owner;
    }

private:
    xcb_connection_t* connection;
    xcb_window_t root;
    xcb_atom_t clipboard = XCB_ATOM_NONE;
};

}  // namespace quillet::bench
