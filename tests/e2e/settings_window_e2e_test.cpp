// The settings window inside the running application, on a private X server: the triggers are
// switched with real clicks on the pop-ups, and the very next double presses follow them; a quit
// while the history moves to a folder chosen in the real folder chooser waits for the move. The
// application is built in this process over the real X11 back-end, so the test can find the
// window's controls.
#include "app/AppDelegate.h"
#include "e2e/harness/XTestInput.h"
#include "e2e/harness/XWindows.h"
#include "platform/x11/X11Platform.h"
#include "settings/QSettingsPreferences.h"
#include "settings/SettingsStore.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <xkbcommon/xkbcommon-keysyms.h>

using namespace quillet;
using namespace quillet::e2e;

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1280, 800)}});

namespace {

// The application, built once for every test of this file over the real X11 back-end.
PlatformServices* platform = nullptr;
AppDelegate* delegate = nullptr;

QList<QWidget*> settingsWindows() {
    QList<QWidget*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->findChild<QComboBox*>(QStringLiteral("regionKeyPopUp"))) windows << widget;
    }
    return windows;
}

QWidget* settingsWindow() {
    delegate->showSettings();
    QList<QWidget*> windows;
    XSession::waitUntil([&] { return !(windows = settingsWindows()).isEmpty(); });
    return windows.isEmpty() || !QTest::qWaitForWindowExposed(windows[0], 10000) ? nullptr : windows[0];
}

// The region overlay: one of our windows covering the whole display.
bool overlayShown() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->geometry().size() == QSize(1280, 800)) return true;
    }
    return false;
}

void clickAt(QPoint global) { pointerTo(global, {QStringLiteral("click"), QStringLiteral("1")}); }

// Opens a pop-up with a click and clicks the item titled `title` in its list.
bool pick(QWidget* window, const char* name, const QString& title) {
    auto* popUp = window->findChild<QComboBox*>(QLatin1String(name));
    const int index = popUp ? popUp->findText(title) : -1;
    if (index < 0) return false;
    clickAt(popUp->mapToGlobal(popUp->rect().center()));
    QAbstractItemView* list = popUp->view();
    if (!XSession::waitUntil([&] { return list->isVisible(); }, 10s)) return false;
    if (!QTest::qWaitForWindowExposed(list->window(), 10000)) return false;
    clickAt(list->viewport()->mapToGlobal(list->visualRect(popUp->model()->index(index, 0)).center()));
    return XSession::waitUntil([&] { return !list->isVisible() && popUp->currentIndex() == index; }, 10s);
}

AppSettings storedSettings() {
    QSettingsPreferences preferences;
    return SettingsStore(preferences, std::nullopt).current();
}

QStringList pngs(const QString& folder) { return QDir(folder).entryList({QStringLiteral("*.png")}, QDir::Files); }

class Settings : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // A history of 50 screenshots waits in the default folder; the store adopts them at start.
        QDir().mkpath(defaultHistoryFolder());
        QImage image(64, 48, QImage::Format_RGB32);
        for (int n = 0; n < 50; ++n) {
            image.fill(QColor(n * 5, 100, 200));
            image.save(defaultHistoryFolder() + QStringLiteral("/Quillet 2026-12-01 в 10.%1.00.png").arg(n, 2, 10, QLatin1Char('0')));
        }
        platform = makeX11Platform().release();
        delegate = new AppDelegate(*platform);
        delegate->launch();
    }
    static void TearDownTestSuite() {
        delete delegate;
        delete platform;
    }
};

TEST_F(Settings, TriggersChosenWithClicksTakeEffectAtOnce) {
    QWidget* window = settingsWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(settingsWindow(), window);
    EXPECT_EQ(settingsWindows().size(), 1) << "a second call brings the same window forward";

    // Shift, which no trigger had: only the newly armed hot keys can react to it.
    ASSERT_TRUE(pick(window, "regionKeyPopUp", QStringLiteral("Shift")));
    EXPECT_EQ(storedSettings().regionTrigger, (Trigger{ModifierKey::shift, KeySide::any}));

    XTestInput input;
    ASSERT_TRUE(input.isValid());
    // Double Ctrl was the region trigger a moment ago; it no longer is.
    input.twice(XKB_KEY_Control_L);
    EXPECT_FALSE(XSession::waitUntil(overlayShown, 2s)) << "double Ctrl still opens the overlay";

    input.twice(XKB_KEY_Shift_L);
    ASSERT_TRUE(XSession::waitUntil(overlayShown)) << "double Shift did not open the overlay";
    input.tap(XKB_KEY_Escape);
    input.sync();
    ASSERT_TRUE(XSession::waitUntil([] { return !overlayShown(); }));
}

// Runs last: it quits the application.
TEST_F(Settings, AQuitDuringAMoveWaitsForTheMoveAndItsSavedFolder) {
    const QString before = storedSettings().historyFolder;
    ASSERT_TRUE(XSession::waitUntil([&] { return pngs(before).size() == 50; }));
    const QString moved = XSession::current().home() + QStringLiteral("/moved-history");
    ASSERT_TRUE(QDir().mkpath(moved));  // the chooser picks existing folders only

    // The folder chooser, opened and filled in with real clicks and keys.
    QWidget* window = settingsWindow();
    ASSERT_TRUE(window);
    auto* choose = window->findChild<QPushButton*>(QStringLiteral("folderButton"));
    ASSERT_TRUE(XSession::waitUntil([&] { return choose->isEnabled(); }));
    clickAt(choose->mapToGlobal(choose->rect().center()));
    QFileDialog* chooser = nullptr;
    ASSERT_TRUE(XSession::waitUntil([&] { return (chooser = window->findChild<QFileDialog*>(QStringLiteral("folderChooser"))); }));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(chooser, 10000));
    auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_TRUE(name);
    clickAt(name->mapToGlobal(name->rect().center()));
    XSession::current().xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), moved});
    ASSERT_TRUE(XSession::waitUntil([&] { return name->text() == moved; }));

    // The quit comes the moment the folder is chosen, while the move is under way.
    QObject::connect(chooser, &QFileDialog::fileSelected, delegate, [] { delegate->quit(); }, Qt::QueuedConnection);
    // A plain key, no delay after it: while xdotool runs, this process keeps handling events.
    QTimer::singleShot(0, [] { XSession::current().xdotool({QStringLiteral("key"), QStringLiteral("Return")}); });
    QTimer::singleShot(60s, qApp, [] { QCoreApplication::exit(1); });
    // The application's own loop, as in quillet: the quit path ends it.
    ASSERT_EQ(QApplication::exec(), 0) << "the quit path never ended the loop";

    EXPECT_EQ(storedSettings().historyFolder, moved) << "the application quit before it saved the moved folder";
    EXPECT_EQ(pngs(moved).size(), 50);
    EXPECT_EQ(indexItems(moved).size(), 50);
    EXPECT_TRUE(pngs(before).isEmpty());
}

}  // namespace
