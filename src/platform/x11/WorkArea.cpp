#include "platform/x11/WorkArea.h"

#include <QGuiApplication>
#include <QScreen>

#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace quillet::WorkArea {

namespace {

template <class T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

// The first desktop's work area in device pixels; the window manager lists one per desktop
// and a task bar is normally on all of them.
std::optional<QRect> desktopWorkArea() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) return std::nullopt;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen) return std::nullopt;
    const char* name = "_NET_WORKAREA";
    Reply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, std::strlen(name), name), nullptr), &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE) return std::nullopt;
    Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, screen->root, atom->atom, XCB_ATOM_CARDINAL, 0, 4), nullptr),
        &std::free);
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
