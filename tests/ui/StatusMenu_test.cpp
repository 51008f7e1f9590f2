#include "ui/tray/StatusMenu.h"
#include "ui/tray/TrayIconArt.h"
#include "fakes/CaptureFakes.h"
#include "fakes/FakeShellServices.h"
#include "support/LogCapture.h"

#include <QAction>

#include <gtest/gtest.h>

using namespace quillet;

namespace {

// The menu as the user sees it: the visible entries, a separator as "—", disabled ones in [].
QStringList visibleItems(QMenu& menu) {
    QStringList items;
    for (QAction* action : menu.actions()) {
        if (!action->isVisible()) continue;
        if (action->isSeparator()) {
            items << QStringLiteral("—");
        } else {
            items << (action->isEnabled() ? action->text() : QStringLiteral("[%1]").arg(action->text()));
        }
    }
    return items;
}

QAction* item(QMenu& menu, const QString& prefix) {
    for (QAction* action : menu.actions()) {
        if (!action->isSeparator() && action->text().startsWith(prefix)) return action;
    }
    return nullptr;
}

// How many pixels of the icon are the badge's red.
int badgePixels(const QIcon& icon) {
    const QImage image = icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() > 200 && pixel.red() > 180 && pixel.green() < 80) ++count;
        }
    }
    return count;
}

class StatusMenuTest : public ::testing::Test {
protected:
    void wire() {
        menu.onCaptureRegion = [this] { calls << QStringLiteral("region"); };
        menu.onCaptureFullScreen = [this] { calls << QStringLiteral("full"); };
        menu.onGrantPermissions = [this] { calls << QStringLiteral("permissions"); };
        menu.onShowHistory = [this] { calls << QStringLiteral("history"); };
        menu.onShowSettings = [this] { calls << QStringLiteral("settings"); };
        menu.onQuit = [this] { calls << QStringLiteral("quit"); };
        menu.refresh();
    }

    fakes::FakeSettings settings;
    fakes::FakePermissionsState permissions;
    fakes::FakePanelTheme panel;
    StatusMenu menu{settings, permissions, &panel};
    QStringList calls;
};

TEST_F(StatusMenuTest, AllGrantedStartsAtTheCapturesWithTheirDoublePress) {
    wire();
    EXPECT_EQ(visibleItems(menu.menu()),
              (QStringList{"Снимок области\tCtrl ×2", "Снимок экрана\tAlt ×2", "—", "История…", "Настройки…", "—",
                           "Выйти Quillet"}));
}

TEST_F(StatusMenuTest, AMissingPermissionAddsTheGrantItemUntilTheMenuOpensAfterGranting) {
    permissions.granted[Permission::removableVolumes] = false;
    wire();
    EXPECT_EQ(visibleItems(menu.menu()).mid(0, 3), (QStringList{"Выдать разрешения…", "—", "Снимок области\tCtrl ×2"}));

    // Granted elsewhere: the next opening of the menu notices without any other notice.
    permissions.granted[Permission::removableVolumes] = true;
    int opened = 0;
    menu.onOpen = [&] { ++opened; };
    Q_EMIT menu.menu().aboutToShow();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(visibleItems(menu.menu()).first(), QStringLiteral("Снимок области\tCtrl ×2"));
}

TEST_F(StatusMenuTest, TitlesFollowTheTriggers) {
    struct Row {
        std::optional<Trigger> region, fullScreen;
        QString regionTitle, fullScreenTitle;
    };
    const Row rows[] = {
        {std::nullopt, std::nullopt, "Снимок области", "Снимок экрана"},
        {Trigger{ModifierKey::option, KeySide::left}, Trigger{ModifierKey::shift, KeySide::right},
         "Снимок области\tAlt ×2 слева", "Снимок экрана\tShift ×2 справа"},
        {Trigger{ModifierKey::command, KeySide::any}, std::nullopt, "Снимок области\tSuper ×2", "Снимок экрана"},
    };
    wire();
    for (const Row& row : rows) {
        settings.settings.regionTrigger = row.region;
        settings.settings.fullScreenTrigger = row.fullScreen;
        // Opening the menu refreshes it: the titles show the settings in force.
        Q_EMIT menu.menu().aboutToShow();
        ASSERT_TRUE(item(menu.menu(), "Снимок области"));
        EXPECT_EQ(item(menu.menu(), "Снимок области")->text(), row.regionTitle);
        EXPECT_EQ(item(menu.menu(), "Снимок экрана")->text(), row.fullScreenTitle);
    }
}

TEST_F(StatusMenuTest, ItemsAreEnabledByTheirCallbacksAndCallThem) {
    permissions.granted[Permission::inputMonitoring] = false;
    menu.refresh();
    EXPECT_EQ(visibleItems(menu.menu()),
              (QStringList{"[Выдать разрешения…]", "—", "[Снимок области\tCtrl ×2]", "[Снимок экрана\tAlt ×2]", "—",
                           "[История…]", "[Настройки…]", "—", "Выйти Quillet"}))
        << "nothing is wired yet; quitting always works";
    wire();
    for (const char* prefix : {"Выдать", "Снимок области", "Снимок экрана", "История", "Настройки", "Выйти"}) {
        item(menu.menu(), QString::fromUtf8(prefix))->trigger();
    }
    EXPECT_EQ(calls, (QStringList{"permissions", "region", "full", "history", "settings", "quit"}));
}

TEST_F(StatusMenuTest, AHistoryWarningShowsABadgeAndAFirstDisabledItem) {
    wire();
    EXPECT_FALSE(menu.hasBadge());
    EXPECT_EQ(badgePixels(menu.icon()), 0);

    menu.showHistoryWarning(QStringLiteral("Снимки не сохраняются: диск заполнен"));
    EXPECT_TRUE(menu.hasBadge());
    EXPECT_GT(badgePixels(menu.icon()), 20);
    EXPECT_EQ(visibleItems(menu.menu()).mid(0, 3),
              (QStringList{"[Снимки не сохраняются: диск заполнен]", "—", "Снимок области\tCtrl ×2"}));

    menu.showHistoryWarning(std::nullopt);
    EXPECT_FALSE(menu.hasBadge());
    EXPECT_EQ(badgePixels(menu.icon()), 0);
    EXPECT_EQ(visibleItems(menu.menu()).first(), QStringLiteral("Снимок области\tCtrl ×2"));
}

TEST_F(StatusMenuTest, TheIconTakesThePanelsInkWhenTheMenuOpens) {
    const auto inkOf = [this] {
        // The glyph's most opaque pixel carries the ink.
        const QImage image = menu.icon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
        QColor ink;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixelColor(x, y).alpha() == 255) ink = image.pixelColor(x, y);
            }
        }
        return ink;
    };
    EXPECT_EQ(inkOf(), TrayIconArt::neutralInk) << "a panel that says nothing gets the neutral grey";
    panel.ink = QColor(Qt::white);
    Q_EMIT menu.menu().aboutToShow();
    EXPECT_EQ(inkOf(), QColor(Qt::white));
    panel.ink = QColor(0x20, 0x20, 0x20);
    menu.showHistoryWarning(QStringLiteral("!"));
    menu.showHistoryWarning(std::nullopt);
    EXPECT_EQ(inkOf(), QColor(0x20, 0x20, 0x20));
}

TEST_F(StatusMenuTest, WithoutATrayHostItSaysSoOnceAndKeepsGoing) {
    if (QSystemTrayIcon::isSystemTrayAvailable()) GTEST_SKIP() << "this platform has a tray";
    test::LogCapture log;
    menu.show();
    EXPECT_EQ(log.texts("quillet.app", QtInfoMsg).size(), 1);
}

}  // namespace
