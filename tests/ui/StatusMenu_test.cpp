#include "ui/tray/StatusMenu.h"
#include "fakes/CaptureFakes.h"
#include "fakes/FakeDesktopServices.h"

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

class StatusMenuTest : public ::testing::Test {
protected:
    // Items are enabled once their callbacks are set.
    void wire() {
        menu.onCaptureRegion = menu.onCaptureFullScreen = menu.onGrantPermissions = [] {};
        menu.onShowHistory = menu.onShowSettings = menu.onQuit = [] {};
        menu.refresh();
    }

    fakes::FakeSettings settings;
    fakes::FakePermissionsState permissions;
    fakes::FakePanelTheme panel;
    StatusMenu menu{settings, permissions, &panel};
};

TEST_F(StatusMenuTest, OpeningTheMenuShowsThePermissionsAndTriggersInForce) {
    permissions.granted[Permission::removableVolumes] = false;
    wire();
    EXPECT_EQ(visibleItems(menu.menu()).mid(0, 3), (QStringList{"Выдать разрешения…", "—", "Снимок области\tCtrl ×2"}));

    // Changed elsewhere: the next opening of the menu notices without any other notice.
    permissions.granted[Permission::removableVolumes] = true;
    settings.settings.regionTrigger = Trigger{ModifierKey::option, KeySide::left};
    settings.settings.fullScreenTrigger = std::nullopt;
    int opened = 0;
    menu.onOpen = [&] { ++opened; };
    Q_EMIT menu.menu().aboutToShow();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(visibleItems(menu.menu()).mid(0, 2), (QStringList{"Снимок области\tAlt ×2 слева", "Снимок экрана"}));
}

TEST_F(StatusMenuTest, AHistoryWarningShowsABadgeAndAFirstDisabledItem) {
    wire();
    const QImage plain = menu.icon().pixmap(32, 32).toImage();
    menu.showHistoryWarning(QStringLiteral("Снимки не сохраняются: диск заполнен"));
    EXPECT_TRUE(menu.hasBadge());
    EXPECT_NE(menu.icon().pixmap(32, 32).toImage(), plain);
    EXPECT_EQ(visibleItems(menu.menu()).mid(0, 3),
              (QStringList{"[Снимки не сохраняются: диск заполнен]", "—", "Снимок области\tCtrl ×2"}));

    menu.showHistoryWarning(std::nullopt);
    EXPECT_FALSE(menu.hasBadge());
    EXPECT_EQ(menu.icon().pixmap(32, 32).toImage(), plain);
    EXPECT_EQ(visibleItems(menu.menu()).first(), QStringLiteral("Снимок области\tCtrl ×2"));
}

}  // namespace
