#include "platform/x11/X11Desktop.h"

#include "platform/x11/DisplayIdentity.h"
#include "platform/x11/XcbReply.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include <xcb/xcb.h>

#include <cstdlib>

namespace quillet {

QPointF X11Desktop::cursorPosition() { return QCursor::pos(); }

QList<ScreenInfo> X11Desktop::screens() {
    QList<ScreenInfo> list;
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary) list << ScreenInfo{DisplayIdentity::displayID(primary), QRectF(primary->geometry())};
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen != primary) list << ScreenInfo{DisplayIdentity::displayID(screen), QRectF(screen->geometry())};
    }
    return list;
}

std::uint32_t X11Desktop::mainDisplayID() { return DisplayIdentity::displayID(QGuiApplication::primaryScreen()); }

qint64 X11Desktop::processID() { return QCoreApplication::applicationPid(); }

bool X11Desktop::compositingManagerRunning() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) return false;
    // Qt connects to the screen DISPLAY names (":0.1" is screen 1).
    int screen = 0;
    if (const char* name = std::getenv("DISPLAY")) {
        const QByteArray value(name);
        const int dot = value.lastIndexOf('.');
        if (dot > value.lastIndexOf(':')) screen = value.mid(dot + 1).toInt();
    }
    const QByteArray selection = "_NET_WM_CM_S" + QByteArray::number(screen);
    XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(selection.size()), selection.constData()),
        nullptr));
    if (!atom) return false;
    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}

}  // namespace quillet
