// The whole application, as a user meets it: the real `quillet` executable in a private X
// session, over a preferences file with one unusable value; captures started by double presses,
// the result pasted with xclip and found in the chosen history folder.
#include "e2e/harness/XSession.h"
#include "e2e/harness/XWindows.h"

#include <QDir>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

using namespace quillet::e2e;

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1280, 800)}});

TEST(Application, DoublePressesCaptureToClipboardAndHistory) {
    auto& session = XSession::current();
    // As an older version, or a hand edit, may have left it: a custom folder and a retention out
    // of range, which must not cost the user the folder. Launch at login is on while the desktop
    // has no autostart entry, so the start has a correction to write.
    const QString folder = session.home() + QStringLiteral("/Архив/Снимки");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString file = session.home() + QStringLiteral("/config/Quillet/Quillet.conf");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file).path()));
    {
        QSettings preferences(file, QSettings::IniFormat);
        preferences.setValue(QStringLiteral("historyFolder"), folder);
        preferences.setValue(QStringLiteral("retention"), QByteArray(R"({"days":{"_0":-5}})"));
        preferences.setValue(QStringLiteral("launchAtLogin"), true);
        preferences.setValue(QStringLiteral("launchAtLoginAppliedOnce"), true);
        preferences.sync();
        ASSERT_EQ(preferences.status(), QSettings::NoError);
    }
    const auto historyPNGs = [&] { return QDir(folder).entryList({QStringLiteral("*.png")}, QDir::Files); };

    const QColor fill(30, 160, 90);
    FlatWindow window(QRect(200, 150, 400, 300), fill);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 10000));
    const QPoint inside = window.mapToGlobal(QPoint(50, 50));

    QProcess* app = session.startProcess(QStringLiteral(QUILLET_EXECUTABLE), {});
    ASSERT_EQ(app->state(), QProcess::Running);
    pointerTo(inside);
    ASSERT_TRUE(pressUntil({QStringLiteral("Control_L"), QStringLiteral("Control_L")},
                           [] { return appShowsWindowOfSize(QSize(1280, 800)); }))
        << "no overlay after double Control";
    dragTo(inside + QPoint(100, 80));

    QImage region;
    ASSERT_TRUE(XSession::waitUntil([&] { return !(region = pastedImage()).isNull(); }))
        << "nothing pasteable after the drag: " << session.xclipOut(QStringLiteral("TARGETS")).out.toStdString();
    ASSERT_EQ(region.size(), QSize(100, 80));
    EXPECT_EQ(region.pixelColor(0, 0), fill);
    EXPECT_EQ(region.pixelColor(99, 79), fill);

    ASSERT_TRUE(XSession::waitUntil([&] { return historyPNGs().size() == 1 && indexItems(folder).size() == 1; }))
        << "no capture in the chosen folder; the default one holds: "
        << QDir(defaultHistoryFolder()).entryList().join(u' ').toStdString();
    const QJsonObject item = indexItems(folder).at(0).toObject();
    EXPECT_EQ(item.value(QStringLiteral("kind")).toString(), QStringLiteral("region"));
    EXPECT_EQ(item.value(QStringLiteral("fileName")).toString(), historyPNGs().at(0));
    EXPECT_EQ(QImage(folder + QLatin1Char('/') + historyPNGs().at(0)).size(), QSize(100, 80));

    // Double Alt takes the whole display under the pointer, undimmed.
    session.xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60"), QStringLiteral("Alt_L"),
                     QStringLiteral("Alt_L")});
    QImage full;
    ASSERT_TRUE(XSession::waitUntil([&] { return (full = pastedImage()).size() == QSize(1280, 800); }))
        << "no full-screen capture after double Alt";
    EXPECT_EQ(full.pixelColor(inside), fill);
    ASSERT_TRUE(XSession::waitUntil([&] { return historyPNGs().size() == 2; }));

    EXPECT_EQ(terminateApp(app), 0) << "quitting takes the orderly path";
    QSettings after(file, QSettings::IniFormat);
    EXPECT_EQ(after.value(QStringLiteral("historyFolder")).toString(), folder);
    EXPECT_EQ(after.value(QStringLiteral("retention")).toByteArray(), QByteArray(R"({"days":{"_0":-5}})"));
    EXPECT_EQ(after.value(QStringLiteral("launchAtLogin")).toString(), QStringLiteral("false"))
        << "the start did bring the switch in step, and wrote nothing else";
}
