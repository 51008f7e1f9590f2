// Which back-end a session gets: the environment in, the choice out; and the real executable
// refusing to start, in one line, where nothing serves the session.
#include "platform/PlatformChoice.h"

#include <QHash>
#include <QProcess>

#include <gtest/gtest.h>

#include <ostream>

namespace quillet {
namespace {

struct ChoiceCase {
    const char* name;
    QHash<QByteArray, QString> environment;
    PlatformBackend backend;
    // A word the message must hold; empty: no message at all.
    QString messageHolds;
};

void PrintTo(const ChoiceCase& row, std::ostream* out) { *out << row.name; }

class PlatformChoiceTest : public testing::TestWithParam<ChoiceCase> {};

TEST_P(PlatformChoiceTest, ChoosesFromTheEnvironment) {
    const ChoiceCase& row = GetParam();
    const PlatformChoice choice = choosePlatform([&](const char* name) { return row.environment.value(name); });
    EXPECT_EQ(choice.backend, row.backend);
    if (row.messageHolds.isEmpty()) {
        EXPECT_TRUE(choice.message.isEmpty()) << qPrintable(choice.message);
    } else {
        EXPECT_TRUE(choice.message.contains(row.messageHolds, Qt::CaseInsensitive)) << qPrintable(choice.message);
    }
}

const QString x11 = QStringLiteral("x11");
const QString wayland = QStringLiteral("wayland");
const QString display = QStringLiteral(":0");

INSTANTIATE_TEST_SUITE_P(
    Sessions, PlatformChoiceTest,
    testing::Values(
        ChoiceCase{"X11Session", {{"XDG_SESSION_TYPE", x11}, {"DISPLAY", display}}, PlatformBackend::x11, {}},
        ChoiceCase{"NoSessionTypeButDisplay", {{"DISPLAY", display}}, PlatformBackend::x11, {}},
        ChoiceCase{"WaylandSessionWithXWayland",
                   {{"XDG_SESSION_TYPE", QStringLiteral("Wayland")}, {"DISPLAY", display}},
                   PlatformBackend::x11,
                   QStringLiteral("XWayland")},
        ChoiceCase{"WaylandDisplayWithXWayland",
                   {{"XDG_SESSION_TYPE", x11}, {"WAYLAND_DISPLAY", QStringLiteral("wayland-0")}, {"DISPLAY", display}},
                   PlatformBackend::x11,
                   QStringLiteral("XWayland")},
        ChoiceCase{"WaylandWithoutX", {{"XDG_SESSION_TYPE", wayland}}, PlatformBackend::none, QStringLiteral("Wayland")},
        ChoiceCase{"WaylandDisplayWithoutX",
                   {{"WAYLAND_DISPLAY", QStringLiteral("wayland-0")}},
                   PlatformBackend::none,
                   QStringLiteral("Wayland")},
        ChoiceCase{"X11SessionWithoutDisplay", {{"XDG_SESSION_TYPE", x11}}, PlatformBackend::none, QStringLiteral("DISPLAY")},
        ChoiceCase{"BlankDisplay",
                   {{"XDG_SESSION_TYPE", x11}, {"DISPLAY", QStringLiteral("  ")}},
                   PlatformBackend::none,
                   QStringLiteral("DISPLAY")},
        ChoiceCase{"ForcedNull",
                   {{"QUILLET_PLATFORM", QStringLiteral("null")}, {"XDG_SESSION_TYPE", x11}, {"DISPLAY", display}},
                   PlatformBackend::none,
                   QStringLiteral("null")},
        ChoiceCase{"ForcedX11UnderWayland",
                   {{"QUILLET_PLATFORM", QStringLiteral(" X11 ")}, {"XDG_SESSION_TYPE", wayland}, {"DISPLAY", display}},
                   PlatformBackend::x11,
                   QStringLiteral("XWayland")},
        // Forcing X11 cannot conjure a display: the answer names what is missing.
        ChoiceCase{"ForcedX11WithoutDisplay",
                   {{"QUILLET_PLATFORM", x11}, {"XDG_SESSION_TYPE", wayland}},
                   PlatformBackend::none,
                   QStringLiteral("DISPLAY")},
        ChoiceCase{"ForcedBogus",
                   {{"QUILLET_PLATFORM", QStringLiteral("bogus")}, {"XDG_SESSION_TYPE", x11}, {"DISPLAY", display}},
                   PlatformBackend::none,
                   QStringLiteral("bogus")}),
    [](const testing::TestParamInfo<ChoiceCase>& row) { return std::string(row.param.name); });

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
    EXPECT_EQ(err.count('\n'), 1) << err.constData();
    EXPECT_TRUE(err.endsWith('\n')) << err.constData();
    EXPECT_TRUE(err.contains("Wayland")) << err.constData();
    EXPECT_TRUE(quillet.readAllStandardOutput().isEmpty());
}

}  // namespace
}  // namespace quillet
