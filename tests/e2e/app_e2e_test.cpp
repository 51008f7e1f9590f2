// The whole application, as a user meets it: the real `quillet` executable in a private X
// session; captures started by double presses, the command line and the tray menu, results
// pasted with xclip and found in the history folder the preferences choose; the editor and the
// history window driven with the pointer and the keyboard; the way out.
#include "e2e/harness/XWindows.h"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QLineEdit>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

using namespace quillet::e2e;

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1280, 800)}});

namespace {

const QColor fill(30, 160, 90);

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

// A field of the history entry at `index` (0 is the newest) in the chosen folder's index.
QString indexed(qsizetype index, const char* field) {
    const QJsonArray items = indexItems(chosenFolder());
    return items.at(index < 0 ? items.size() + index : index).toObject().value(QLatin1String(field)).toString();
}

QString inChosen(const QString& name) { return chosenFolder() + QLatin1Char('/') + name; }

// The preview card, where there is just one.
std::optional<QRect> previewGeometry() {
    const QList<XWindowState> cards = windowsTitled(QStringLiteral("Превью снимка"));
    return cards.size() == 1 ? std::optional<QRect>(cards[0].rect) : std::nullopt;
}

// Opens the editor with a double click on the card, above its copy button and between the
// corner buttons; the 300 × 200 picture's top-left: at its own size, centred below the
// 44-point toolbar.
std::optional<QPoint> openEditor() {
    std::optional<QRect> card;
    if (!XSession::waitUntil([&] { return (card = previewGeometry()).has_value(); }, 10s)) return std::nullopt;
    pointerTo(QPoint(card->center().x(), card->top() + 32), words(QStringLiteral("click --repeat 2 --delay 80 1")));
    QList<XWindowState> editors;
    if (!XSession::waitUntil([&] { return (editors = windowsTitled(QStringLiteral("Редактор"))).size() == 1; })) {
        return std::nullopt;
    }
    const QRect frame = editors[0].rect;
    if (frame.width() < 480 || frame.height() < 320) return std::nullopt;
    activate(editors[0].id);
    return QPoint(frame.left() + (frame.width() - 300) / 2, frame.top() + 44 + (frame.height() - 44 - 200) / 2);
}

bool hasRed(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 110 && c.blue() < 110) return true;
        }
    }
    return false;
}

}  // namespace

TEST(Application, CapturesEditsAndKeepsItsWindowsOutOfTheWay) {
    auto& session = XSession::current();
    // The history goes where the preferences file says.
    const QString folder = chosenFolder();
    ASSERT_TRUE(QDir().mkpath(folder));
    {
        QSettings preferences(session.home() + QStringLiteral("/config/Quillet/Quillet.conf"), QSettings::IniFormat);
        preferences.setValue(QStringLiteral("historyFolder"), folder);
        preferences.sync();
        ASSERT_EQ(preferences.status(), QSettings::NoError);
    }

    FlatWindow window(QRect(200, 150, 500, 400), fill);
    window.show();
    QLineEdit work;
    work.setGeometry(800, 100, 300, 40);
    work.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 10000) && QTest::qWaitForWindowExposed(&work, 10000));
    const QPoint inside = window.mapToGlobal(QPoint(50, 50));

    const StartedProcess app(QStringLiteral(QUILLET_EXECUTABLE));
    pointerTo(inside);
    const auto overlayShown = [] {
        const QList<XWindowState> shown = visibleWindows({QStringLiteral("--class"), QStringLiteral("quillet")});
        return std::any_of(shown.begin(), shown.end(), [](const XWindowState& w) { return w.rect.size() == QSize(1280, 800); });
    };
    ASSERT_TRUE(retryUntil([] { keys({QStringLiteral("Control_L"), QStringLiteral("Control_L")}); }, overlayShown))
        << "no overlay after double Control";
    dragTo(inside + QPoint(300, 200));

    QImage region;
    ASSERT_TRUE(XSession::waitUntil([&] { return !(region = pastedImage()).isNull(); }))
        << "nothing pasteable after the drag: " << session.xclipOut(QStringLiteral("TARGETS")).out.toStdString();
    ASSERT_EQ(region.size(), QSize(300, 200));
    EXPECT_EQ(region.pixelColor(0, 0), fill);
    EXPECT_EQ(region.pixelColor(299, 199), fill);
    ASSERT_TRUE(XSession::waitUntil([&] { return historyPNGs().size() == 1 && indexItems(folder).size() == 1; }))
        << "no capture in the chosen folder; the default one holds: "
        << QDir(defaultHistoryFolder()).entryList().join(u' ').toStdString();
    const QString capturedID = indexed(0, "id");
    EXPECT_EQ(indexed(0, "kind"), QStringLiteral("region"));
    EXPECT_EQ(indexed(0, "fileName"), historyPNGs().at(0));
    EXPECT_EQ(QImage(inChosen(historyPNGs().at(0))).size(), QSize(300, 200));

    // The preview sits 20 points from the bottom left of the work area the task bar leaves.
    const QByteArray area = session.run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_WORKAREA")}).out;
    QList<int> workArea;  // x, y, width, height of each desktop
    for (const QString& value : QString::fromLatin1(area.mid(area.indexOf('=') + 1)).split(u',')) workArea << value.trimmed().toInt();
    ASSERT_GE(workArea.size(), 4) << area.constData();
    ASSERT_LT(workArea[3], 800) << "no task bar";
    std::optional<QRect> card;
    EXPECT_TRUE(XSession::waitUntil([&] {
        return (card = previewGeometry()) && card->bottomLeft() == QPoint(workArea[0] + 20, workArea[1] + workArea[3] - 21);
    })) << "no preview at the bottom left of the work area";
    ASSERT_TRUE(card);
    // A click on it leaves the keyboard with the window the user works in.
    work.activateWindow();
    ASSERT_TRUE(XSession::waitUntil([&] { return activeWindow() == std::uint32_t(work.winId()); }));
    pointerTo(card->topLeft() + QPoint(40, 60), {QStringLiteral("click"), QStringLiteral("1")});
    session.xdotool({QStringLiteral("type"), QStringLiteral("abc")});
    EXPECT_TRUE(XSession::waitUntil([&] { return work.text() == QStringLiteral("abc"); }, 5s)) << work.text().toStdString();

    // A double click on the preview edits: an arrow across the picture, then Ctrl+S.
    std::optional<QPoint> origin = openEditor();
    ASSERT_TRUE(origin) << "no editor window after a double click on the preview";
    const QPoint from = *origin + QPoint(40, 100), tip = *origin + QPoint(260, 100);
    pointerTo(from, {QStringLiteral("mousedown"), QStringLiteral("1")});
    pointerTo((from + tip) / 2);
    pointerTo(tip, {QStringLiteral("mouseup"), QStringLiteral("1")});
    keys({QStringLiteral("ctrl+s")});
    QImage edited;
    ASSERT_TRUE(XSession::waitUntil([&] {
        edited = pastedImage();
        return edited.size() == QSize(300, 200) && hasRed(edited);
    })) << "no edited picture with a red arrow on the clipboard";
    EXPECT_EQ(edited.pixelColor(5, 5), fill) << "away from the arrow the picture is unchanged";
    EXPECT_TRUE(hasRed(edited.copy(QRect(120, 80, 60, 40)))) << "the arrow runs across the middle";
    ASSERT_TRUE(XSession::waitUntil([&] { return indexItems(folder).size() == 2; }));
    EXPECT_EQ(indexed(0, "kind"), QStringLiteral("edited"));
    EXPECT_EQ(indexed(0, "sourceID"), capturedID);
    EXPECT_TRUE(XSession::waitUntil([] { return windowsTitled(QStringLiteral("Редактор")).isEmpty(); }, 10s))
        << "the window closes after saving";

    // Closing with changes asks first (a second window of the editor's title); "Отмена" stays.
    origin = openEditor();
    ASSERT_TRUE(origin);
    pointerTo(*origin + QPoint(40, 40), {QStringLiteral("mousedown"), QStringLiteral("1")});
    pointerTo(*origin + QPoint(200, 60), {QStringLiteral("mouseup"), QStringLiteral("1")});
    keys({QStringLiteral("ctrl+w")});
    ASSERT_TRUE(XSession::waitUntil([] { return windowsTitled(QStringLiteral("Редактор")).size() == 2; }, 10s))
        << "closing with changes did not ask";
    keys({QStringLiteral("Escape")});
    EXPECT_TRUE(XSession::waitUntil([] { return windowsTitled(QStringLiteral("Редактор")).size() == 1; }, 10s));
    EXPECT_EQ(indexItems(folder).size(), 2) << "nothing was saved";

    // Double Alt takes the whole display under the pointer, undimmed and without the editor.
    keys({QStringLiteral("Alt_L"), QStringLiteral("Alt_L")});
    QImage full;
    ASSERT_TRUE(XSession::waitUntil([&] { return (full = pastedImage()).size() == QSize(1280, 800); }))
        << "no full-screen capture after double Alt";
    EXPECT_EQ(full.pixelColor(inside), fill);
    ASSERT_TRUE(XSession::waitUntil([&] { return historyPNGs().size() == 3; }));
    // The previews were withdrawn for that grab and shown again: still floating panels out of the
    // task bar, on every desktop.
    QList<XWindowState> previews;
    ASSERT_TRUE(XSession::waitUntil([&] { return !(previews = windowsTitled(QStringLiteral("Превью снимка"))).isEmpty(); }));
    for (const XWindowState& preview : previews) {
        const QByteArray traits = session.run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(preview.id)}).out;
        for (const char* trait : {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_ABOVE", "_NET_WM_WINDOW_TYPE_NOTIFICATION",
                                  "_NET_WM_DESKTOP(CARDINAL) = 4294967295"}) {
            EXPECT_TRUE(traits.contains(trait)) << trait << " missing in " << traits.constData();
        }
    }

    EXPECT_EQ(terminateApp(app), 0) << "quitting takes the orderly path, unsaved edit or not";
}

namespace {

// Quillet's visible windows: the tray icon is the small one inside tint2's tray; its menu is the
// larger one that opens next to it (previews stand in the other corner).
std::optional<QRect> quilletWindow(const std::function<bool(QRect)>& wanted) {
    for (const XWindowState& window : visibleWindows({QStringLiteral("--class"), QStringLiteral("quillet")})) {
        if (wanted(window.rect)) return window.rect;
    }
    return std::nullopt;
}

}  // namespace

TEST(Application, LaterStartsHandOverAndTheTrayMenuReachesEverything) {
    auto& session = XSession::current();
    const QString folder = chosenFolder();
    const qsizetype before = historyPNGs().size();
    const StartedProcess app(QStringLiteral(QUILLET_EXECUTABLE));
    std::optional<QRect> iconRect;
    const auto isIcon = [](QRect r) { return !r.isEmpty() && r.width() <= 64 && r.height() <= 64; };
    ASSERT_TRUE(XSession::waitUntil([&] { return (iconRect = quilletWindow(isIcon)).has_value(); }, 30s)) << "no icon in the tray";
    const QPoint icon = iconRect->center();

    // A second start finds the first, hands over and leaves; a full-screen capture asked from the
    // command line runs once, in the running one.
    const auto second = session.run(QStringLiteral(QUILLET_EXECUTABLE), {});
    EXPECT_TRUE(second.ok()) << second.exitCode << " " << second.err.toStdString();
    EXPECT_TRUE(session.run(QStringLiteral(QUILLET_EXECUTABLE), {QStringLiteral("--full-screen")}).ok());
    ASSERT_TRUE(XSession::waitUntil([&] { return historyPNGs().size() == before + 1; }));
    EXPECT_TRUE(XSession::waitUntil([&] { return pastedImage().size() == QSize(1280, 800); }));
    // Another hand-over goes through the same queue, so by its answer an extra capture would
    // have started.
    EXPECT_TRUE(session.run(QStringLiteral(QUILLET_EXECUTABLE), {}).ok());
    EXPECT_EQ(historyPNGs().size(), before + 1);
    ASSERT_EQ(app->state(), QProcess::Running);

    // The capture's flash covers the screen for a moment and takes a click meant for the icon:
    // click again until the menu is there. Then the keys choose an item.
    const auto fromMenu = [&](QStringList presses) {
        const bool opened = retryUntil([&] { pointerTo(icon, {QStringLiteral("click"), QStringLiteral("3")}); }, [&] {
            return quilletWindow([&](QRect r) { return r.width() > 60 && r.adjusted(-40, -40, 40, 40).contains(icon); }).has_value();
        }, 2s);
        keys(presses << QStringLiteral("Return"));
        return opened;
    };
    const QString down = QStringLiteral("Down");
    ASSERT_TRUE(fromMenu({down, down})) << "no menu after a right click on the icon";  // full screen
    ASSERT_TRUE(XSession::waitUntil([&] { return historyPNGs().size() == before + 2; }));
    EXPECT_TRUE(XSession::waitUntil([&] { return pastedImage().size() == QSize(1280, 800); }));
    ASSERT_TRUE(fromMenu({down, down, down, down}));
    EXPECT_TRUE(XSession::waitUntil([] { return !windowsTitled(QStringLiteral("Настройки Quillet")).isEmpty(); }))
        << "no settings window from the menu";

    // The history window: the keyboard goes to the oldest screenshot, Ctrl+C puts its file's
    // bytes on the clipboard, Delete removes the file and its index entry, Ctrl+W closes.
    ASSERT_TRUE(fromMenu({down, down, down}));
    QList<XWindowState> history;
    ASSERT_TRUE(XSession::waitUntil([&] { return !(history = windowsTitled(QStringLiteral("История"))).isEmpty(); }))
        << "no history window from the menu";
    activate(history[0].id);
    const QString oldest = indexed(-1, "fileName");
    QFile file(inChosen(oldest));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray stored = file.readAll();
    keys({QStringLiteral("Right"), QStringLiteral("End"), QStringLiteral("ctrl+c")});
    EXPECT_TRUE(XSession::waitUntil([&] { return session.xclipOut(QStringLiteral("image/png"), 2s).out == stored; }))
        << "the clipboard does not hold the oldest file's bytes";
    keys({QStringLiteral("Delete")});
    EXPECT_TRUE(XSession::waitUntil([&] {
        return !QFile::exists(inChosen(oldest)) && indexItems(folder).size() == before + 1;
    })) << "the deleted screenshot is still in the folder or the index";
    keys({QStringLiteral("ctrl+w")});
    EXPECT_TRUE(XSession::waitUntil([] { return windowsTitled(QStringLiteral("История")).isEmpty(); }));

    // The last item quits, through the same orderly path as SIGTERM.
    ASSERT_TRUE(fromMenu({QStringLiteral("Up")}));
    EXPECT_EQ(exitCodeOf(app), 0);
}

// SIGTERM while a capture's history write is held up by a slow disk waits for the write (its
// file and index entry are there after exit) and leaves the capture pasteable through the
// desktop's clipboard manager.
TEST(Application, SigtermDuringAHistoryWriteKeepsTheFileTheIndexAndThePaste) {
    auto& session = XSession::current();
    const qsizetype before = historyPNGs().size();
    const StartedProcess manager(QStringLiteral(QUILLET_CLIPBOARD_MANAGER));
    ASSERT_TRUE(XSession::waitUntil([&] { return session.hasSelectionOwner("CLIPBOARD_MANAGER"); }));
    // Something on the screen worth encoding, so the write takes a moment.
    session.run(QStringLiteral("xsetroot"), words(QStringLiteral("-mod 3 5 -fg #c03060 -bg #30a0c0")));
    // Every fsync of the application takes 0.6 s longer (three of them stay within the 3-second
    // wait): the write is still under way at SIGTERM.
    QProcessEnvironment environment = session.environment();
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(QUILLET_SLOW_FSYNC));
    environment.insert(QStringLiteral("QUILLET_SLOW_FSYNC_MS"), QStringLiteral("600"));
    const StartedProcess app(QStringLiteral(QUILLET_EXECUTABLE), {}, environment);

    // Double Alt until the application listens; SIGTERM the moment the capture is on the clipboard.
    ASSERT_TRUE(retryUntil([] { keys({QStringLiteral("Alt_L"), QStringLiteral("Alt_L")}); },
                           [&] { return session.hasSelectionOwner("CLIPBOARD"); }, 2s))
        << "no capture after double Alt";
    EXPECT_EQ(terminateApp(app), 0);

    ASSERT_EQ(historyPNGs().size(), before + 1);
    const QString newest = inChosen(indexed(0, "fileName"));
    ASSERT_TRUE(QFile::exists(newest)) << newest.toStdString();
    const QImage pasted = pastedImage();
    EXPECT_EQ(pasted.size(), QSize(1280, 800));
    EXPECT_EQ(pasted, QImage(newest).convertToFormat(pasted.format()));
}
