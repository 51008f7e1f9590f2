#include "platform/x11/X11PanelTheme.h"

#include "platform/x11/X11Atoms.h"
#include "platform/x11/XcbReply.h"

#include <QByteArray>

#include <cstdint>

namespace quillet {

std::optional<QColor> X11PanelTheme::trayForeground() {
    xcb_connection_t* connection = X11Atoms::connection();
    if (!connection) return std::nullopt;
    // Qt uses the default screen; its number names the tray selection.
    const QByteArray selectionName = QByteArrayLiteral("_NET_SYSTEM_TRAY_S0");
    const xcb_atom_t selection = X11Atoms::atom(selectionName.constData());
    const xcb_atom_t colours = X11Atoms::atom("_NET_SYSTEM_TRAY_COLORS");
    if (selection == XCB_ATOM_NONE || colours == XCB_ATOM_NONE) return std::nullopt;

    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr));
    if (!owner || owner->owner == XCB_WINDOW_NONE) return std::nullopt;

    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, owner->owner, colours, XCB_ATOM_CARDINAL, 0, 12), nullptr));
    if (!reply || reply->type != XCB_ATOM_CARDINAL || reply->format != 32 ||
        xcb_get_property_value_length(reply.get()) < 12) {
        return std::nullopt;
    }
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    QColor foreground;
    foreground.setRgba64(QRgba64::fromRgba64(static_cast<quint16>(values[0]), static_cast<quint16>(values[1]),
                                             static_cast<quint16>(values[2]), 0xffff));
    return foreground;
}

}  // namespace quillet
