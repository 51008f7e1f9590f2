#include "platform/x11/EwmhWindowList.h"

#include "platform/x11/DisplayMap.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11ContentSource.h"
#include "platform/x11/XcbReply.h"

#include <algorithm>

namespace quillet {

namespace {

// The values of a 32-bit property (CARDINAL, WINDOW, ATOM lists).
std::vector<std::uint32_t> values32(const xcb_get_property_reply_t* reply) {
    if (!reply || reply->format != 32 || reply->type == XCB_ATOM_NONE) return {};
    const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
    return std::vector<std::uint32_t>(data, data + xcb_get_property_value_length(reply) / 4);
}

std::optional<QString> text(const xcb_get_property_reply_t* reply, bool utf8) {
    if (!reply || reply->format != 8 || reply->type == XCB_ATOM_NONE) return std::nullopt;
    const char* data = static_cast<const char*>(xcb_get_property_value(reply));
    const int length = xcb_get_property_value_length(reply);
    return utf8 ? QString::fromUtf8(data, length) : QString::fromLatin1(data, length);
}

}  // namespace

EwmhWindowList::EwmhWindowList(std::shared_ptr<const X11Connection> connection, std::shared_ptr<const DisplayMap> displays)
    : connection(std::move(connection)), displays(std::move(displays)) {}

std::optional<std::vector<xcb_window_t>> EwmhWindowList::windowsProperty(xcb_atom_t property) const {
    if (property == XCB_ATOM_NONE) return std::nullopt;
    xcb_connection_t* x = connection->xcb();
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        x, xcb_get_property(x, 0, connection->root(), property, XCB_ATOM_WINDOW, 0, 1 << 16), nullptr));
    if (!reply || reply->type != XCB_ATOM_WINDOW) return std::nullopt;
    return values32(reply.get());
}

std::optional<QList<WindowInfo>> EwmhWindowList::list() const {
    if (!connection->isConnected()) return std::nullopt;
    xcb_connection_t* x = connection->xcb();
    const X11Atoms::Table& atoms = connection->atoms();
    // Bottom to top, as X11 stacks.
    std::optional<std::vector<xcb_window_t>> clients = windowsProperty(atoms["_NET_CLIENT_LIST_STACKING"]);
    if (!clients) clients = windowsProperty(atoms["_NET_CLIENT_LIST"]);

    XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(x, xcb_query_tree(x, connection->root()), nullptr));
    if (!tree && !clients) return std::nullopt;
    std::vector<xcb_window_t> children;
    if (tree) {
        const xcb_window_t* data = xcb_query_tree_children(tree.get());
        children.assign(data, data + xcb_query_tree_children_length(tree.get()));
    }
    std::vector<xcb_get_window_attributes_cookie_t> cookies;
    cookies.reserve(children.size());
    for (xcb_window_t child : children) cookies.push_back(xcb_get_window_attributes(x, child));
    std::vector<xcb_window_t> popups;    // override-redirect: menus, tool tips, our overlays
    std::vector<xcb_window_t> unmanaged;  // top-level windows when no manager lists clients
    for (std::size_t i = 0; i < children.size(); ++i) {
        XcbReply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(x, cookies[i], nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
            attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT) {
            continue;
        }
        (attributes->override_redirect ? popups : unmanaged).push_back(children[i]);
    }

    // Front-most first: pop-ups lie above every managed window.
    std::vector<std::pair<xcb_window_t, bool>> ordered;  // (window, is a pop-up)
    for (auto it = popups.rbegin(); it != popups.rend(); ++it) ordered.emplace_back(*it, true);
    const std::vector<xcb_window_t>& managed = clients ? *clients : unmanaged;
    for (auto it = managed.rbegin(); it != managed.rend(); ++it) ordered.emplace_back(*it, false);
    return describe(ordered);
}

QList<WindowInfo> EwmhWindowList::describe(const std::vector<std::pair<xcb_window_t, bool>>& windows) const {
    struct Cookies {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t origin;
        xcb_get_property_cookie_t pid, netName, name, extents, opacity, type, state;
    };
    xcb_connection_t* x = connection->xcb();
    const X11Atoms::Table& atoms = connection->atoms();
    const xcb_atom_t wmPid = atoms["_NET_WM_PID"];
    const xcb_atom_t wmName = atoms["_NET_WM_NAME"];
    const xcb_atom_t utf8String = atoms["UTF8_STRING"];
    const xcb_atom_t frameExtents = atoms["_NET_FRAME_EXTENTS"];
    const xcb_atom_t windowOpacity = atoms["_NET_WM_WINDOW_OPACITY"];
    const xcb_atom_t windowType = atoms["_NET_WM_WINDOW_TYPE"];
    const xcb_atom_t wmState = atoms["_NET_WM_STATE"];
    const xcb_atom_t stateHidden = atoms["_NET_WM_STATE_HIDDEN"];
    const auto property = [x](xcb_window_t window, xcb_atom_t atom, xcb_atom_t type, std::uint32_t length) {
        return xcb_get_property(x, 0, window, atom, type, 0, length);
    };
    // Everything is asked first and read afterwards: one round trip for the whole list.
    std::vector<Cookies> cookies;
    cookies.reserve(windows.size());
    for (const auto& [window, popup] : windows) {
        cookies.push_back(Cookies{
            xcb_get_window_attributes(x, window),
            xcb_get_geometry(x, window),
            xcb_translate_coordinates(x, window, connection->root(), 0, 0),
            property(window, wmPid, XCB_ATOM_CARDINAL, 1),
            property(window, wmName, utf8String, 1024),
            property(window, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 1024),
            property(window, frameExtents, XCB_ATOM_CARDINAL, 4),
            property(window, windowOpacity, XCB_ATOM_CARDINAL, 1),
            property(window, windowType, XCB_ATOM_ATOM, 32),
            property(window, wmState, XCB_ATOM_ATOM, 32),
        });
    }
    QList<WindowInfo> list;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const Cookies& c = cookies[i];
        XcbReply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(x, c.attributes, nullptr));
        XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(x, c.geometry, nullptr));
        XcbReply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(x, c.origin, nullptr));
        XcbReply<xcb_get_property_reply_t> pid(xcb_get_property_reply(x, c.pid, nullptr));
        XcbReply<xcb_get_property_reply_t> netName(xcb_get_property_reply(x, c.netName, nullptr));
        XcbReply<xcb_get_property_reply_t> name(xcb_get_property_reply(x, c.name, nullptr));
        XcbReply<xcb_get_property_reply_t> extents(xcb_get_property_reply(x, c.extents, nullptr));
        XcbReply<xcb_get_property_reply_t> opacity(xcb_get_property_reply(x, c.opacity, nullptr));
        XcbReply<xcb_get_property_reply_t> type(xcb_get_property_reply(x, c.type, nullptr));
        XcbReply<xcb_get_property_reply_t> state(xcb_get_property_reply(x, c.state, nullptr));

        // Gone meanwhile, minimised or on another desktop: not on screen.
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) continue;
        const std::vector<std::uint32_t> states = values32(state.get());
        if (std::find(states.begin(), states.end(), stateHidden) != states.end()) continue;

        WindowInfo info;
        info.id = windows[i].first;
        if (const auto values = values32(pid.get()); !values.empty()) info.processID = values.front();
        info.title = text(netName.get(), true);
        if (!info.title) info.title = text(name.get(), false);
        if (const auto values = values32(opacity.get()); !values.empty()) info.alpha = values.front() / double(0xffffffffu);
        if (geometry && origin) {
            QRect native(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
            // The frame the window manager draws around the window belongs to what the user sees.
            if (const auto frame = values32(extents.get()); frame.size() == 4) {
                native.adjust(-int(frame[0]), -int(frame[2]), int(frame[1]), int(frame[3]));
            }
            info.frame = displays->toLogical(native);
        }
        info.layer = layer(windows[i].second, values32(type.get()), states);
        list << info;
    }
    return list;
}

int EwmhWindowList::layer(bool popup, const std::vector<std::uint32_t>& types,
                          const std::vector<std::uint32_t>& states) const {
    if (popup) return X11ContentSource::popupLayer;
    const X11Atoms::Table& atoms = connection->atoms();
    const auto has = [](const std::vector<std::uint32_t>& values, xcb_atom_t atom) {
        return atom != XCB_ATOM_NONE && std::find(values.begin(), values.end(), atom) != values.end();
    };
    if (has(types, atoms["_NET_WM_WINDOW_TYPE_DESKTOP"])) return X11ContentSource::desktopLayer;
    if (has(types, atoms["_NET_WM_WINDOW_TYPE_DOCK"])) return X11ContentSource::dockLayer;
    if (has(types, atoms["_NET_WM_WINDOW_TYPE_NOTIFICATION"])) return X11ContentSource::notificationLayer;
    for (const char* transient : {"_NET_WM_WINDOW_TYPE_TOOLTIP", "_NET_WM_WINDOW_TYPE_POPUP_MENU",
                                  "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", "_NET_WM_WINDOW_TYPE_COMBO",
                                  "_NET_WM_WINDOW_TYPE_DND"}) {
        if (has(types, atoms[transient])) return X11ContentSource::popupLayer;
    }
    if (has(states, atoms["_NET_WM_STATE_ABOVE"])) return X11ContentSource::aboveLayer;
    return 0;
}

}  // namespace quillet
