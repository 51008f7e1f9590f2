#include "platform/PlatformChoice.h"

namespace quillet {

PlatformChoice choosePlatform(const std::function<QString(const char*)>& environment) {
    const QString forced = environment("QUILLET_PLATFORM").trimmed().toLower();
    const QString display = environment("DISPLAY").trimmed();
    const bool wayland = environment("XDG_SESSION_TYPE").trimmed().toLower() == QLatin1String("wayland") ||
                         !environment("WAYLAND_DISPLAY").trimmed().isEmpty();

    if (forced == QLatin1String("null")) {
        return {PlatformBackend::none, {}, QStringLiteral("QUILLET_PLATFORM=null: снимать экран нечем, Quillet не запущен.")};
    }
    if (!forced.isEmpty() && forced != QLatin1String("x11")) {
        return {PlatformBackend::none, {},
                QStringLiteral("QUILLET_PLATFORM=%1: такого варианта нет (есть x11 и null).").arg(forced)};
    }
    if (display.isEmpty()) {
        if (wayland && forced.isEmpty()) {
            return {PlatformBackend::none, {},
                    QStringLiteral("сеанс Wayland без X: Wayland пока не поддерживается, запустите Quillet в сеансе X11.")};
        }
        return {PlatformBackend::none, {}, QStringLiteral("нет дисплея X (DISPLAY не задана), запустите Quillet в сеансе X11.")};
    }
    if (wayland) {
        return {PlatformBackend::x11, "xcb",
                QStringLiteral("работа через XWayland: снять можно только окна X-клиентов.")};
    }
    return {PlatformBackend::x11, "xcb", {}};
}

}  // namespace quillet
