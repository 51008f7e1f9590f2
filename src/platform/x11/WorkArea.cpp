#include "platform/x11/WorkArea.h"

#include "platform/x11/X11Atoms.h"
#include "platform/x11/XcbReply.h"

#include <QScreen>

#include <xcb/xcb.h>

#include <cmath>
#include <optional>

namespace quillet::WorkArea {

namespace {

// The first desktop's work area in device pixels; the window manager lists one per desktop
// and a task bar is normally on all of them.
std::optional<QRect> desktopWorkArea() {
    xcb_connection_t* connection = X11Atoms::connection();
    if (!connection) return std::nullopt;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen) return std::nullopt;
    const xcb_atom_t workArea = X11Atoms::atom("_NET_WORKAREA");
    if (workArea == XCB_ATOM_NONE) return std::nullopt;
    XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, screen->root, workArea, XCB_ATOM_CARDINAL, 0, 4), nullptr));
    if (!reply || reply->type != XCB_ATOM_CARDINAL || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 16) {
        return std::nullopt;
    }
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    const QRect area(static_cast<int>(values[0]), static_cast<int>(values[1]), static_cast<int>(values[2]),
                     static_cast<int>(values[3]));
    if (area.isEmpty()) return std::nullopt;
    return area;
}

}  // namespace

QRect visibleFrame(const QScreen* screen) {
    if (!screen) return {};
    const QRect available = screen->availableGeometry();
    const std::optional<QRect> work = desktopWorkArea();
    if (!work) return available;
    // Device pixels to Qt's logical pixels (one scale factor for the whole X screen).
    const qreal ratio = screen->devicePixelRatio();
    const QPoint topLeft(static_cast<int>(std::ceil(work->left() / ratio)), static_cast<int>(std::ceil(work->top() / ratio)));
    const QPoint end(static_cast<int>(std::floor((work->left() + work->width()) / ratio)),
                     static_cast<int>(std::floor((work->top() + work->height()) / ratio)));
    const QRect frame = available & QRect(topLeft, QSize(end.x() - topLeft.x(), end.y() - topLeft.y()));
    return frame.isEmpty() ? available : frame;
}

}  // namespace quillet::WorkArea
