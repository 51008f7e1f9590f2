#include "platform/x11/X11Atoms.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QHash>

#include <cstdlib>
#include <cstring>
#include <memory>

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
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(xcb_intern_atom_reply(x, cookie, nullptr),
                                                                          &std::free);
    if (!reply) return XCB_ATOM_NONE;
    known.insert(key, reply->atom);
    return reply->atom;
}

}  // namespace quillet::X11Atoms
