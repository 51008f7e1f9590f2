#include "platform/x11/DisplayIdentity.h"

#include <QGuiApplication>
#include <QHash>
#include <QScreen>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace quillet::DisplayIdentity {

namespace {

xcb_connection_t* x11Connection() {
    if (auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        return x11->connection();
    }
    return nullptr;
}

std::uint32_t atomOf(const QString& name) {
    xcb_connection_t* connection = x11Connection();
    const QByteArray bytes = name.toUtf8();
    if (connection) {
        const auto cookie = xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(bytes.size()), bytes.constData());
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
        if (reply && reply->atom != XCB_ATOM_NONE) return reply->atom;
    }
    // Never 0: 0 reads as "no display" in logs and tests.
    return static_cast<std::uint32_t>(qHash(bytes)) | 0x80000000u;
}

}  // namespace

std::uint32_t displayID(const QScreen* screen) {
    if (!screen) return 0;
    static QHash<QString, std::uint32_t> cache;
    const QString name = screen->name();
    auto found = cache.constFind(name);
    if (found != cache.constEnd()) return *found;
    const std::uint32_t id = atomOf(name);
    cache.insert(name, id);
    return id;
}

QScreen* screenWithID(std::uint32_t id) {
    for (QScreen* screen : QGuiApplication::screens()) {
        if (displayID(screen) == id) return screen;
    }
    return nullptr;
}

}  // namespace quillet::DisplayIdentity
