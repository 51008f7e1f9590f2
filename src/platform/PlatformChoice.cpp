#include "platform/PlatformChoice.h"

namespace quillet {

PlatformChoice choosePlatform(const std::function<QString(const char*)>& environment) {
    const QString forced = environment("QUILLET_PLATFORM").trimmed().toLower();
    const QString display = environment("DISPLAY").trimmed();
    const bool wayland = environment("XDG_SESSION_TYPE").trimmed().toLower() == QLatin1String("wayland") ||
                         !environment("WAYLAND_DISPLAY").trimmed().isEmpty();

    if (forced == QLatin1String("null")) {
        return {PlatformBackend::none, {}, QStringLiteral("QUILLET_PLATFORM=null: no back-end chosen, nothing to capture with.")};
    }
    if (!forced.isEmpty() && forced != QLatin1String("x11")) {
        return {PlatformBackend::none, {},
                QStringLiteral("QUILLET_PLATFORM=%1 is not a back-end Quillet has (x11, null).").arg(forced)};
    }
    if (display.isEmpty()) {
        if (wayland && forced.isEmpty()) {
            return {PlatformBackend::none, {},
                    QStringLiteral("this is a Wayland session without X; Quillet does not serve Wayland yet "
                                   "(start it in an X11 session).")};
        }
        return {PlatformBackend::none, {}, QStringLiteral("no X display (DISPLAY is not set); start it inside an X11 session.")};
    }
    if (wayland) {
        return {PlatformBackend::x11, "xcb",
                QStringLiteral("running under XWayland: only windows of X clients can be captured.")};
    }
    return {PlatformBackend::x11, "xcb", {}};
}

}  // namespace quillet
