// The whole application, as a user meets it: the real `quillet` executable in a private X
// session, over a preferences file with one unusable value; captures started by double presses,
// the result pasted with xclip and found in the chosen history folder.
#include "e2e/harness/XSession.h"
#include "e2e/harness/XWindows.h"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

using namespace quillet::e2e;

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1280, 800)}});

namespace {

// The folder the first case chooses in the preferences; later cases run over the same file.
QString chosenFolder() { return XSession::current().home() + QStringLiteral("/Архив/Снимки"); }

// The screenshots in the chosen folder and the default one, wherever the preferences send them.
QStringList historyPNGs() {
    QStringList files;
    for (const QString& folder : {chosenFolder(), defaultHistoryFolder()}) {
        files << QDir(folder).entryList({QStringLiteral("*.png")}, QDir::Files);
    }
    return files;
}

}  // namespace

TEST(Application, DoublePressesCaptureToClipboardAndHistory) {
    auto& session = XSession::current();
    // As an older version, or a hand edit, may have left it: a custom folder and a retention out
    // of range, which must not cost the user the folder. Launch at login is on while the desktop
    // has no autostart entry, so the start has a correction to write.
    const QString folder = chosenFolder();
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

    const QColor fill(30, 160, 90);
    FlatWindow window(QRect(200, 150, 400, 300), fill);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 10000));
    const QPoint inside = window.mapToGlobal(QPoint(50, 50));

    const StartedProcess app(QStringLiteral(QUILLET_EXECUTABLE));
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
    // The region's preview was withdrawn for that grab and shown again: still out of the task bar.
    QList<std::uint32_t> previews;
    ASSERT_TRUE(XSession::waitUntil([&] {
        return !(previews = visibleWindows({QStringLiteral("--name"), QStringLiteral("Превью снимка")})).isEmpty();
    })) << "no preview on the screen after two captures";
    for (std::uint32_t id : previews) {
        const auto state = session.run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(id),
                                                                 QStringLiteral("_NET_WM_STATE")});
        EXPECT_TRUE(state.out.contains("_NET_WM_STATE_SKIP_TASKBAR")) << state.out.constData();
    }

    EXPECT_EQ(terminateApp(app), 0) << "quitting takes the orderly path";
    QSettings after(file, QSettings::IniFormat);
    EXPECT_EQ(after.value(QStringLiteral("historyFolder")).toString(), folder);
    EXPECT_EQ(after.value(QStringLiteral("retention")).toByteArray(), QByteArray(R"({"days":{"_0":-5}})"));
    EXPECT_EQ(after.value(QStringLiteral("launchAtLogin")).toString(), QStringLiteral("false"))
        << "the start did bring the switch in step, and wrote nothing else";
}

namespace {

// The tray icon's window (class "quillet") sits inside one of tint2's windows.
bool trayIconEmbedded() {
    auto& session = XSession::current();
    const auto panels = session.xdotool({QStringLiteral("search"), QStringLiteral("--class"), QStringLiteral("tint2")});
    for (const QByteArray& id : panels.out.split('\n')) {
        if (id.trimmed().isEmpty()) continue;
        const auto tree = session.run(QStringLiteral("xwininfo"),
                                      {QStringLiteral("-tree"), QStringLiteral("-id"), QString::fromLatin1(id.trimmed())});
        if (tree.out.contains("(\"quillet\" \"Quillet\")")) return true;
    }
    return false;
}

// The processes that own windows of class "quillet" on this session's display.
QSet<QByteArray> quilletProcessesOnDisplay() {
    auto& session = XSession::current();
    const auto found = session.xdotool({QStringLiteral("search"), QStringLiteral("--class"), QStringLiteral("quillet")});
    QSet<QByteArray> processes;
    for (const QByteArray& id : found.out.split('\n')) {
        if (id.trimmed().isEmpty()) continue;
        const auto pid = session.xdotool({QStringLiteral("getwindowpid"), QString::fromLatin1(id.trimmed())});
        if (pid.ok()) processes.insert(pid.out.trimmed());
    }
    return processes;
}

}  // namespace

TEST(Application, OneInstanceTakesTheCommandLinesOfLaterStarts) {
    auto& session = XSession::current();
    const qsizetype before = historyPNGs().size();
    const StartedProcess app(QStringLiteral(QUILLET_EXECUTABLE));
    ASSERT_EQ(app->state(), QProcess::Running);
    ASSERT_TRUE(XSession::waitUntil(trayIconEmbedded, 30s)) << "no Quillet icon in tint2's tray";

    // A second start finds the first, hands over and leaves.
    const auto second = session.run(QStringLiteral(QUILLET_EXECUTABLE), {}, 20s);
    EXPECT_TRUE(second.ok()) << second.exitCode << " " << second.err.toStdString();
    EXPECT_EQ(app->state(), QProcess::Running);
    EXPECT_EQ(quilletProcessesOnDisplay(), QSet<QByteArray>{QByteArray::number(app->processId())});

    // A full-screen capture asked from the command line runs once, in the running one.
    const auto fullScreen = session.run(QStringLiteral(QUILLET_EXECUTABLE), {QStringLiteral("--full-screen")}, 20s);
    EXPECT_TRUE(fullScreen.ok()) << fullScreen.err.toStdString();
    ASSERT_TRUE(XSession::waitUntil([&] { return historyPNGs().size() == before + 1; }, 20s));
    QImage pasted;
    EXPECT_TRUE(XSession::waitUntil([&] {
        pasted = pastedImage();
        return pasted.size() == QSize(1280, 800);
    }, 20s));
    // Another hand-over goes through the same queue, so by its answer an extra capture would
    // have started.
    EXPECT_TRUE(session.run(QStringLiteral(QUILLET_EXECUTABLE), {}, 20s).ok());
    ASSERT_TRUE(XSession::waitUntil([] { return indexItems(chosenFolder()).size() + indexItems().size() >= 1; }, 20s));
    EXPECT_EQ(historyPNGs().size(), before + 1);

    app->terminate();
    ASSERT_TRUE(XSession::waitUntil([&] { return app->state() == QProcess::NotRunning; }, 20s));
    EXPECT_EQ(app->exitCode(), 0);
}

namespace {

// The tray icon's centre on the screen, from tint2's window tree.
std::optional<QPoint> trayIconCentre() {
    auto& session = XSession::current();
    const auto panels = session.xdotool({QStringLiteral("search"), QStringLiteral("--class"), QStringLiteral("tint2")});
    static const QRegularExpression geometry(QStringLiteral("(\\d+)x(\\d+)[+-]-?\\d+[+-]-?\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)"));
    for (const QByteArray& id : panels.out.split('\n')) {
        if (id.trimmed().isEmpty()) continue;
        const auto tree = session.run(QStringLiteral("xwininfo"),
                                      {QStringLiteral("-tree"), QStringLiteral("-id"), QString::fromLatin1(id.trimmed())});
        for (const QByteArray& line : tree.out.split('\n')) {
            if (!line.contains("(\"quillet\" \"Quillet\")")) continue;
            const QRegularExpressionMatch match = geometry.match(QString::fromUtf8(line));
            if (!match.hasMatch()) continue;
            return QPoint(match.captured(3).toInt() + match.captured(1).toInt() / 2,
                          match.captured(4).toInt() + match.captured(2).toInt() / 2);
        }
    }
    return std::nullopt;
}

// A visible window of Quillet's, other than the icon, that opens from the icon: the tray menu.
// (Previews are Quillet's windows too, but stand in the other corner.)
bool menuShown(QPoint icon) {
    auto& session = XSession::current();
    const auto found = session.xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--class"),
                                        QStringLiteral("quillet")});
    static const QRegularExpression place(QStringLiteral("Position: (-?\\d+),(-?\\d+).*Geometry: (\\d+)x(\\d+)"),
                                          QRegularExpression::DotMatchesEverythingOption);
    for (const QByteArray& id : found.out.split('\n')) {
        if (id.trimmed().isEmpty()) continue;
        const auto geometry = session.xdotool({QStringLiteral("getwindowgeometry"), QString::fromLatin1(id.trimmed())});
        const QRegularExpressionMatch match = place.match(QString::fromUtf8(geometry.out));
        if (!match.hasMatch()) continue;
        const QRect window(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt(),
                           match.captured(4).toInt());
        if (window.width() > 60 && window.adjusted(-40, -40, 40, 40).contains(icon)) return true;
    }
    return false;
}

}  // namespace

TEST(Application, TheTrayMenuCapturesAndQuitsFromTheKeyboard) {
    auto& session = XSession::current();
    const qsizetype before = historyPNGs().size();
    const StartedProcess app(QStringLiteral(QUILLET_EXECUTABLE));
    std::optional<QPoint> icon;
    ASSERT_TRUE(XSession::waitUntil([&] { return (icon = trayIconCentre()).has_value(); }, 30s));

    // The capture's flash covers the screen for a moment and takes a click meant for the icon:
    // click again until the menu is there.
    const auto openMenu = [&] {
        return XSession::waitUntil([&] {
            session.xdotool({QStringLiteral("mousemove"), QString::number(icon->x()), QString::number(icon->y()),
                             QStringLiteral("click"), QStringLiteral("3")});
            return XSession::waitUntil([&] { return menuShown(*icon); }, 2s);
        }, 20s);
    };
    ASSERT_TRUE(openMenu()) << "no menu after a right click on the icon";
    // The second item is the full-screen capture.
    session.xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("Down"),
                     QStringLiteral("Down"), QStringLiteral("Return")});
    ASSERT_TRUE(XSession::waitUntil([&] { return historyPNGs().size() == before + 1; }, 20s));
    QImage pasted;
    EXPECT_TRUE(XSession::waitUntil([&] {
        pasted = pastedImage();
        return pasted.size() == QSize(1280, 800);
    }, 20s));

    // "История…" and "Настройки…" open their windows.
    const auto openFromMenu = [&](int downs, const QString& title) {
        if (!openMenu()) return false;
        QStringList keys{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("80")};
        for (int i = 0; i < downs; ++i) keys << QStringLiteral("Down");
        session.xdotool(keys << QStringLiteral("Return"));
        return XSession::waitUntil([&] { return !visibleWindows({QStringLiteral("--name"), QStringLiteral("^%1$").arg(title)}).isEmpty(); });
    };
    EXPECT_TRUE(openFromMenu(3, QStringLiteral("История"))) << "no history window from the menu";
    EXPECT_TRUE(openFromMenu(4, QStringLiteral("Настройки Quillet"))) << "no settings window from the menu";

    // The last item quits, through the same orderly path as SIGTERM.
    ASSERT_TRUE(openMenu());
    session.xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("Up"),
                     QStringLiteral("Return")});
    ASSERT_TRUE(XSession::waitUntil([&] { return app->state() == QProcess::NotRunning; }, 20s));
    EXPECT_EQ(app->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app->exitCode(), 0);
}
