#include "platform/x11/X11Desktop.h"

#include "platform/x11/DisplayIdentity.h"
#include "platform/x11/WorkArea.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

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

std::uint32_t X11Desktop::displayID(const QScreen* screen) { return DisplayIdentity::displayID(screen); }

QScreen* X11Desktop::screenWithID(std::uint32_t id) { return DisplayIdentity::screenWithID(id); }

QRect X11Desktop::visibleFrame(const QScreen* screen) { return WorkArea::visibleFrame(screen); }

}  // namespace quillet
