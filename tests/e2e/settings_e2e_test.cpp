// The preferences file as the real `quillet` executable treats it: one unusable value must not
// cost the user the other choices, neither for the run nor in the file.
#include "e2e/harness/XSession.h"

#include <QDir>
#include <QFile>
#include <QSettings>

#include <gtest/gtest.h>

using quillet::e2e::XSession;
using namespace std::chrono_literals;

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1024, 768)}});

TEST(Settings, ACustomHistoryFolderSurvivesAStartWithAnOutOfRangeRetention) {
    auto& session = XSession::current();
    const QString folder = session.home() + QStringLiteral("/Архив/Снимки");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString file = session.home() + QStringLiteral("/config/Quillet/Quillet.conf");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file).path()));
    {
        // As an older version, or a hand edit, may have left it. Launch at login is on here
        // while the desktop has no autostart entry, so the start has a correction to write.
        QSettings preferences(file, QSettings::IniFormat);
        preferences.setValue(QStringLiteral("historyFolder"), folder);
        preferences.setValue(QStringLiteral("retention"), QByteArray(R"({"days":{"_0":-5}})"));
        preferences.setValue(QStringLiteral("launchAtLogin"), true);
        preferences.setValue(QStringLiteral("launchAtLoginAppliedOnce"), true);
        preferences.sync();
        ASSERT_EQ(preferences.status(), QSettings::NoError);
    }

    QProcess* app = session.startProcess(QStringLiteral(QUILLET_EXECUTABLE), {});
    ASSERT_EQ(app->state(), QProcess::Running);
    const auto captures = [&] { return QDir(folder).entryList({QStringLiteral("*.png")}, QDir::Files); };
    // Double Alt captures the display once the application listens; until then, press again.
    const bool captured = XSession::waitUntil([&] {
        session.xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60"), QStringLiteral("Alt_L"),
                         QStringLiteral("Alt_L")});
        return XSession::waitUntil([&] { return !captures().isEmpty(); }, 3s);
    }, 40s);
    EXPECT_TRUE(captured) << "no capture in the chosen folder; the default one holds: "
                          << QDir(session.home() + QStringLiteral("/Pictures/Quillet")).entryList().join(u' ').toStdString();

    app->terminate();
    ASSERT_TRUE(XSession::waitUntil([&] { return app->state() == QProcess::NotRunning; }, 20s));
    EXPECT_EQ(app->exitCode(), 0);
    session.stopProcess(app);

    QSettings after(file, QSettings::IniFormat);
    EXPECT_EQ(after.value(QStringLiteral("historyFolder")).toString(), folder);
    EXPECT_EQ(after.value(QStringLiteral("retention")).toByteArray(), QByteArray(R"({"days":{"_0":-5}})"));
    EXPECT_EQ(after.value(QStringLiteral("launchAtLogin")).toString(), QStringLiteral("false"))
        << "the start did bring the switch in step, and wrote nothing else";
}
