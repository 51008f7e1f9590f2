// The settings window inside the running application, on a private X server: the triggers are
// switched with real clicks on the pop-ups, and the very next double presses follow them; the
// history is moved with the real folder chooser onto another file system. The application is
// built in this process over the real X11 back-end (the tray menu does not open the settings
// yet), so the test reaches the window through AppDelegate::showSettings.
#include "app/AppDelegate.h"
#include "e2e/harness/XSession.h"
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
#include <QStorageInfo>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <xkbcommon/xkbcommon-keysyms.h>

using namespace quillet;
using quillet::e2e::XSession;
using quillet::e2e::XTestInput;
using namespace std::chrono_literals;

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1280, 800)}});

namespace {

const QSize screenSize(1280, 800);

QList<QWidget*> settingsWindows() {
    QList<QWidget*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->windowTitle() == QStringLiteral("Настройки Quillet") && widget->findChild<QComboBox*>(QStringLiteral("regionKeyPopUp"))) {
            windows << widget;
        }
    }
    return windows;
}

QWidget* settingsWindow() {
    const QList<QWidget*> windows = settingsWindows();
    const auto shown = std::find_if(windows.begin(), windows.end(), [](QWidget* w) { return w->isVisible(); });
    return shown == windows.end() ? nullptr : *shown;
}

// The region overlay: one of our windows covering the whole display.
bool overlayShown() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->geometry().size() == screenSize) return true;
    }
    return false;
}

void clickAt(QPoint global) { e2e::pointerTo(global, {QStringLiteral("click"), QStringLiteral("1")}); }

// Opens a pop-up with a click and clicks the item titled `title` in its list.
bool pick(QWidget* window, const char* name, const QString& title) {
    auto* popUp = window->findChild<QComboBox*>(QLatin1String(name));
    if (!popUp) return false;
    const int index = popUp->findText(title);
    if (index < 0) return false;
    clickAt(popUp->mapToGlobal(popUp->rect().center()));
    QAbstractItemView* list = popUp->view();
    if (!XSession::waitUntil([&] { return list->isVisible(); }, 10s)) return false;
    if (!QTest::qWaitForWindowExposed(list->window(), 10000)) return false;
    const QRect item = list->visualRect(popUp->model()->index(index, 0));
    clickAt(list->viewport()->mapToGlobal(item.center()));
    return XSession::waitUntil([&] { return !list->isVisible() && popUp->currentIndex() == index; }, 10s);
}

void doublePress(XTestInput& input, std::uint32_t keysym) {
    input.tap(keysym);
    input.sync();
    input.tap(keysym);
    input.sync();
}

AppSettings storedSettings() {
    QSettingsPreferences preferences;
    return SettingsStore(preferences, std::nullopt).current();
}

QString defaultHistory() { return e2e::defaultHistoryFolder(); }

QStringList pngs(const QString& folder) { return QDir(folder).entryList({QStringLiteral("*.png")}, QDir::Files); }

int indexCount(const QString& folder) { return int(e2e::indexItems(folder).size()); }

// A folder on another file system than the session's home.
QString tmpfsFolder() { return QStringLiteral("/dev/shm/quillet-e2e-%1").arg(QCoreApplication::applicationPid()); }

// The application, built once for every test of this file over the real X11 back-end.
PlatformServices* platform = nullptr;
AppDelegate* delegate = nullptr;

// Opens the settings and their folder chooser with real clicks; null when either did not show.
QFileDialog* openFolderChooser() {
    delegate->showSettings();
    if (!XSession::waitUntil([] { return settingsWindow() != nullptr; })) return nullptr;
    QWidget* window = settingsWindow();
    if (!QTest::qWaitForWindowExposed(window, 10000)) return nullptr;
    auto* choose = window->findChild<QPushButton*>(QStringLiteral("folderButton"));
    if (!XSession::waitUntil([&] { return choose->isEnabled(); })) return nullptr;
    clickAt(choose->mapToGlobal(choose->rect().center()));
    QFileDialog* chooser = nullptr;
    // An earlier chooser may still wait for its deferred deletion: only a visible one counts.
    const bool shown = XSession::waitUntil([&] {
        for (QFileDialog* dialog : window->findChildren<QFileDialog*>(QStringLiteral("folderChooser"))) {
            if (dialog->isVisible()) chooser = dialog;
        }
        return chooser != nullptr;
    });
    return shown && QTest::qWaitForWindowExposed(chooser, 10000) ? chooser : nullptr;
}

// Types a folder's path into the chooser as a user would.
bool typeFolder(QFileDialog* chooser, const QString& folder) {
    auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!name) return false;
    clickAt(name->mapToGlobal(name->rect().center()));
    XSession::current().xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), folder});
    return XSession::waitUntil([&] { return name->text() == folder; });
}

class Settings : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // A history of 50 screenshots waits in the default folder; the store adopts them at start.
        QDir().mkpath(defaultHistory());
        QImage image(64, 48, QImage::Format_RGB32);
        for (int n = 0; n < 50; ++n) {
            image.fill(QColor(n * 5, 100, 200));
            image.save(defaultHistory() + QStringLiteral("/Quillet 2026-12-01 в 10.%1.00.png").arg(n, 2, 10, QLatin1Char('0')));
        }
        platform = makeX11Platform().release();
        delegate = new AppDelegate(*platform);
        delegate->launch();
    }
    static void TearDownTestSuite() {
        delete delegate;
        delete platform;
        QDir(tmpfsFolder()).removeRecursively();
    }
};

TEST_F(Settings, TriggersChosenWithClicksTakeEffectAtOnce) {
    delegate->showSettings();
    ASSERT_TRUE(XSession::waitUntil([] { return settingsWindow() != nullptr; }));
    QWidget* window = settingsWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window, 10000));
    delegate->showSettings();
    EXPECT_EQ(settingsWindows().size(), 1) << "a second call brings the same window forward";

    // Full screen first: the rules keep the two triggers apart, so Alt must be free for the region.
    ASSERT_TRUE(pick(window, "fullScreenKeyPopUp", QStringLiteral("Shift")));
    ASSERT_TRUE(pick(window, "regionKeyPopUp", QStringLiteral("Alt")));
    ASSERT_TRUE(pick(window, "regionSidePopUp", QStringLiteral("Левая")));
    const AppSettings stored = storedSettings();
    EXPECT_EQ(stored.fullScreenTrigger, (Trigger{ModifierKey::shift, KeySide::any}));
    EXPECT_EQ(stored.regionTrigger, (Trigger{ModifierKey::option, KeySide::left}));

    XTestInput input;
    ASSERT_TRUE(input.isValid());
    // Double Ctrl was the region trigger a moment ago; it no longer is.
    doublePress(input, XKB_KEY_Control_L);
    EXPECT_FALSE(XSession::waitUntil(overlayShown, 2s)) << "double Ctrl still opens the overlay";

    doublePress(input, XKB_KEY_Alt_L);
    ASSERT_TRUE(XSession::waitUntil(overlayShown, 20s)) << "double left Alt did not open the overlay";
    input.tap(XKB_KEY_Escape);
    input.sync();
    ASSERT_TRUE(XSession::waitUntil([] { return !overlayShown(); }, 20s));
}

TEST_F(Settings, TheChosenFolderOnAnotherFileSystemTakesTheWholeHistory) {
    const QString target = tmpfsFolder();
    if (!QDir().mkpath(target)) GTEST_SKIP() << "no tmpfs at /dev/shm";
    if (QStorageInfo(target).device() == QStorageInfo(defaultHistory()).device()) GTEST_SKIP() << "same file system";
    ASSERT_TRUE(XSession::waitUntil([] { return pngs(defaultHistory()).size() == 50 && indexCount(defaultHistory()) == 50; }));

    QFileDialog* chooser = openFolderChooser();
    ASSERT_NE(chooser, nullptr);
    ASSERT_TRUE(typeFolder(chooser, target));
    XSession::current().xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    QWidget* window = settingsWindow();

    ASSERT_TRUE(XSession::waitUntil([&] { return storedSettings().historyFolder == target; }, 60s))
        << "the new folder was not saved";
    EXPECT_EQ(pngs(target).size(), 50);
    EXPECT_EQ(indexCount(target), 50);
    EXPECT_TRUE(pngs(defaultHistory()).isEmpty());
    auto* button = window->findChild<QPushButton*>(QStringLiteral("folderButton"));
    EXPECT_TRUE(XSession::waitUntil([&] { return button->isEnabled(); }));
}

// Runs last: it quits the application.
TEST_F(Settings, AQuitDuringAMoveWaitsForTheMoveAndItsSavedFolder) {
    const QString before = storedSettings().historyFolder;
    ASSERT_TRUE(XSession::waitUntil([&] { return pngs(before).size() == 50; }));
    const QString moved = XSession::current().home() + QStringLiteral("/moved-history");
    ASSERT_TRUE(QDir().mkpath(moved));  // the chooser picks existing folders only

    QFileDialog* chooser = openFolderChooser();
    ASSERT_NE(chooser, nullptr);
    ASSERT_TRUE(typeFolder(chooser, moved));
    // The quit comes the moment the folder is chosen, while the move is under way.
    QObject::connect(chooser, &QFileDialog::fileSelected, delegate, [] { delegate->quit(); }, Qt::QueuedConnection);
    QTimer::singleShot(0, [] { XSession::current().xdotool({QStringLiteral("key"), QStringLiteral("Return")}); });
    QTimer::singleShot(60s, qApp, [] { QCoreApplication::exit(1); });
    // The application's own loop, as in quillet: the quit path ends it.
    ASSERT_EQ(QApplication::exec(), 0) << "the quit path never ended the loop";

    EXPECT_EQ(storedSettings().historyFolder, moved) << "the application quit before it saved the moved folder";
    EXPECT_EQ(pngs(moved).size(), 50);
    EXPECT_EQ(indexCount(moved), 50);
    EXPECT_TRUE(pngs(before).isEmpty());
}

}  // namespace
