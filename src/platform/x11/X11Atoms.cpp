#include "platform/x11/X11Atoms.h"

#include "platform/x11/XcbReply.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QHash>

namespace quillet::X11Atoms {

xcb_connection_t* connection() {
    if (auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        return x11->connection();
    }
    return nullptr;
}

xcb_atom_t atom(const char* name) {
    xcb_connection_t* x = connection();
    if (!x) return XCB_ATOM_NONE;
    static QHash<QByteArray, xcb_atom_t> known;
    const QByteArray key(name);
    if (auto found = known.constFind(key); found != known.constEnd()) return *found;
    const auto cookie = xcb_intern_atom(x, 0, static_cast<std::uint16_t>(key.size()), key.constData());
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(x, cookie, nullptr));
    if (!reply) return XCB_ATOM_NONE;
    known.insert(key, reply->atom);
    return reply->atom;
}

Table::Table(xcb_connection_t* connection, std::initializer_list<const char*> names) {
    std::vector<xcb_intern_atom_cookie_t> cookies;
    cookies.reserve(names.size());
    for (const char* name : names) {
        const std::string_view view(name);
        cookies.push_back(xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(view.size()), view.data()));
    }
    atoms.reserve(names.size());
    std::size_t i = 0;
    for (const char* name : names) {
        XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookies[i++], nullptr));
        atoms.emplace_back(name, reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE));
    }
}

xcb_atom_t Table::operator[](std::string_view name) const {
    for (const auto& [known, atom] : atoms) {
        if (known == name) return atom;
    }
    return XCB_ATOM_NONE;
}

}  // namespace quillet::X11Atoms
