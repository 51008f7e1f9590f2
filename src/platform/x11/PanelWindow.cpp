#include "platform/x11/PanelWindow.h"

#include "platform/x11/X11Atoms.h"
#include "platform/x11/XcbReply.h"

#include <QWindow>

#include <xcb/xcb.h>

#include <cstring>
#include <vector>

namespace quillet::PanelWindow {

namespace {

void setAtoms(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property, const std::vector<xcb_atom_t>& atoms) {
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, property, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(atoms.size()), atoms.data());
}

}  // namespace

bool prepare(QWindow* window) {
    xcb_connection_t* connection = X11Atoms::connection();
    if (!connection || !window || !window->handle()) return false;
    const auto id = static_cast<xcb_window_t>(window->winId());

    // Notification first; window managers that do not know it fall back to utility.
    setAtoms(connection, id, X11Atoms::atom("_NET_WM_WINDOW_TYPE"),
             {X11Atoms::atom("_NET_WM_WINDOW_TYPE_NOTIFICATION"), X11Atoms::atom("_NET_WM_WINDOW_TYPE_UTILITY")});
    // Qt merges its own states (above) into these when it maps the window.
    setAtoms(connection, id, X11Atoms::atom("_NET_WM_STATE"),
             {X11Atoms::atom("_NET_WM_STATE_SKIP_TASKBAR"), X11Atoms::atom("_NET_WM_STATE_SKIP_PAGER"),
              X11Atoms::atom("_NET_WM_STATE_STICKY"), X11Atoms::atom("_NET_WM_STATE_ABOVE")});
    // Without WM_TAKE_FOCUS and with the input hint off (Qt::WindowDoesNotAcceptFocus) the window
    // manager has no way left to hand the focus to the panel.
    const xcb_atom_t protocols = X11Atoms::atom("WM_PROTOCOLS");
    const xcb_atom_t takeFocus = X11Atoms::atom("WM_TAKE_FOCUS");
    XcbReply<xcb_get_property_reply_t> current(
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, id, protocols, XCB_ATOM_ATOM, 0, 64), nullptr));
    if (current && current->format == 32 && current->type == XCB_ATOM_ATOM) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(current.get()));
        std::vector<xcb_atom_t> kept;
        for (int i = 0; i < xcb_get_property_value_length(current.get()) / 4; ++i) {
            if (atoms[i] != takeFocus) kept.push_back(atoms[i]);
        }
        setAtoms(connection, id, protocols, kept);
    }
    const std::uint32_t allDesktops = 0xFFFFFFFF;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, X11Atoms::atom("_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 32,
                        1, &allDesktops);
    xcb_flush(connection);
    return true;
}

}  // namespace quillet::PanelWindow
