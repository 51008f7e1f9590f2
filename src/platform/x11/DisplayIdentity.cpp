#include "platform/x11/DisplayIdentity.h"

#include "platform/x11/X11Atoms.h"

#include <QGuiApplication>
#include <QHash>
#include <QScreen>

namespace quillet::DisplayIdentity {

namespace {

std::uint32_t atomOf(const QString& name) {
    const QByteArray bytes = name.toUtf8();
    if (const xcb_atom_t atom = X11Atoms::atom(bytes.constData()); atom != XCB_ATOM_NONE) return atom;
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
