// Which back-end a session gets: the environment in, the choice out; and the real executable
// refusing to start, in one line, where nothing serves the session.
#include "platform/PlatformChoice.h"

#include <QHash>
#include <QProcess>

#include <gtest/gtest.h>

namespace quillet {
namespace {

TEST(PlatformChoice, ChoosesFromTheEnvironment) {
    const QByteArray type = "XDG_SESSION_TYPE", wl = "WAYLAND_DISPLAY", disp = "DISPLAY", forced = "QUILLET_PLATFORM";
    const QString x11 = QStringLiteral("x11"), wayland = QStringLiteral("wayland"), display = QStringLiteral(":0");
    const PlatformBackend onX11 = PlatformBackend::x11, none = PlatformBackend::none;
    const struct {
        QHash<QByteArray, QString> environment;
        PlatformBackend backend;
        QString messageHolds;  // a word the message must hold; empty: no message at all
    } rows[] = {
        {{{type, x11}, {disp, display}}, onX11, {}},
        {{{disp, display}}, onX11, {}},
        {{{type, "Wayland"}, {disp, display}}, onX11, "XWayland"},
        {{{type, x11}, {wl, "wayland-0"}, {disp, display}}, onX11, "XWayland"},
        {{{type, wayland}}, none, "Wayland"},
        {{{wl, "wayland-0"}}, none, "Wayland"},
        {{{type, x11}}, none, "DISPLAY"},
        {{{type, x11}, {disp, "  "}}, none, "DISPLAY"},
        {{{forced, "null"}, {type, x11}, {disp, display}}, none, "null"},
        {{{forced, " X11 "}, {type, wayland}, {disp, display}}, onX11, "XWayland"},
        // Forcing X11 cannot conjure a display: the answer names what is missing.
        {{{forced, x11}, {type, wayland}}, none, "DISPLAY"},
        {{{forced, "bogus"}, {type, x11}, {disp, display}}, none, "bogus"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(QStringList(row.environment.values()).join(' ').toStdString());
        const PlatformChoice choice = choosePlatform([&](const char* name) { return row.environment.value(name); });
        EXPECT_EQ(choice.backend, row.backend);
        if (row.messageHolds.isEmpty()) {
            EXPECT_TRUE(choice.message.isEmpty()) << qPrintable(choice.message);
        } else {
            EXPECT_TRUE(choice.message.contains(row.messageHolds, Qt::CaseInsensitive)) << qPrintable(choice.message);
        }
    }
}

// Nothing can serve the session: one line on stderr, exit status 1, and no window, tray icon
// or X connection attempted.
TEST(RefusedStart, PrintsOneLineAndExits) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QUILLET_PLATFORM"}) environment.remove(QLatin1String(name));
    environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    QProcess quillet;
    quillet.setProcessEnvironment(environment);
    quillet.start(QStringLiteral(QUILLET_EXECUTABLE), {});
    ASSERT_TRUE(quillet.waitForFinished(20000)) << "quillet kept running";
    EXPECT_EQ(quillet.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(quillet.exitCode(), 1);
    const QByteArray err = quillet.readAllStandardError();
    EXPECT_TRUE(err.count('\n') == 1 && err.endsWith('\n')) << err.constData();
    EXPECT_TRUE(err.contains("Wayland")) << err.constData();
    EXPECT_TRUE(quillet.readAllStandardOutput().isEmpty());
}

}  // namespace
}  // namespace quillet
