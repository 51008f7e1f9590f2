// Which back-end serves this session, decided once at start from the environment: the X11
// back-end wherever an X display can be reached, none in a Wayland session without X (not
// served yet). QUILLET_PLATFORM=x11 or =null overrides the choice.
//
//   const PlatformChoice choice = choosePlatform(qEnvironmentVariable);
//   if (choice.backend == PlatformBackend::none) { print choice.message; exit 1; }
//   if (!choice.message.isEmpty()) log choice.message as a warning;
//
// Pure: reads nothing but the lookup it is given.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace quillet {

enum class PlatformBackend { x11, none };

struct PlatformChoice {
    PlatformBackend backend = PlatformBackend::none;
    // The Qt platform plugin the back-end needs, set before the QApplication is made.
    QByteArray qtPlatform;
    // Why nothing serves the session (backend none), or a warning for the log (x11 under
    // XWayland); empty otherwise.
    QString message;
};

PlatformChoice choosePlatform(const std::function<QString(const char*)>& environment);

}  // namespace quillet
