// The tray's menu and the permissions guide with its window, over fake checks and a fake disk probe.
#include "ui/tray/PermissionsGuide.h"
#include "ui/tray/PermissionsWindow.h"
#include "ui/tray/StatusMenu.h"
#include "fakes/CaptureFakes.h"
#include "fakes/FakeDesktopServices.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace quillet;
using namespace std::chrono_literals;

namespace {

class PermissionsGuideTest : public ::testing::Test {
protected:
    PermissionsGuideTest()
        : guide(PermissionsGuide::Checks{
              .screenRecordingGranted = [this] { return screenGranted; },
              .inputMonitoringGranted = [this] { return inputGranted; },
              .removableVolumeAccess = [probe = probe](const QString& folder) { return (*probe)(folder); },
              .overlayShown = [this] { return overlayUp; },
              .now = [this] { return clock; },
          }) {
        guide.historyFolder = [] { return QStringLiteral("/media/anna/Disk/Shots"); };
        guide.onChange = [this] { ++changes; };
    }
    ~PermissionsGuideTest() override {
        // A probe still held back would otherwise outlive the test.
        if (gate) gate->open();
        test::waitUntil([this] { return !guide.isProbing(); });
    }

    // Waits until the running probe has been answered on the main thread.
    bool settled() { return test::waitUntil([this] { return !guide.isProbing(); }); }

    PermissionRow* row(Permission permission) { return guide.window()->row(permission); }

    bool screenGranted = true;
    bool inputGranted = true;
    bool overlayUp = false;
    PermissionsGuide::Clock::time_point clock{std::chrono::hours(1)};
    std::shared_ptr<fakes::FakeVolumeProbe> probe = std::make_shared<fakes::FakeVolumeProbe>();
    std::shared_ptr<test::Gate> gate;
    int changes = 0;
    PermissionsGuide guide;
};

TEST_F(PermissionsGuideTest, RowsShowWhatIsGrantedGrantLooksAgainAndTheDiskRowIsOnlyForAnExternalFolder) {
    inputGranted = false;
    guide.showWindow();
    ASSERT_TRUE(guide.window());
    PermissionRow* input = row(Permission::inputMonitoring);
    EXPECT_TRUE(row(Permission::screenRecording)->isGrantedShown());
    EXPECT_FALSE(input->isGrantedShown());
    EXPECT_FALSE(input->grantButton()->isHidden());
    EXPECT_TRUE(row(Permission::removableVolumes)->isHidden()) << "the history is not on an external disk";
    inputGranted = true;  // the user fixed it meanwhile
    input->grantButton()->click();
    EXPECT_TRUE(input->isGrantedShown());
    EXPECT_EQ(changes, 1) << "the owner retries the hot keys";

    struct Case {
        VolumeAccess access;
        bool rowShown, granted;
    };
    for (const Case& c : {Case{VolumeAccess::granted, true, true}, Case{VolumeAccess::notMounted, false, true},
                          Case{VolumeAccess::notExternal, false, true}, Case{VolumeAccess::denied, true, false}}) {
        probe->answer = c.access;
        guide.refreshRemovableVolumes(false);
        ASSERT_TRUE(settled());
        EXPECT_EQ(!row(Permission::removableVolumes)->isHidden(), c.rowShown) << int(c.access);
        EXPECT_EQ(row(Permission::removableVolumes)->isGrantedShown(), c.granted) << int(c.access);
        EXPECT_EQ(guide.isGranted(Permission::removableVolumes), c.granted);
    }
    EXPECT_EQ(probe->folders().first(), QStringLiteral("/media/anna/Disk/Shots"));

    // Still denied: pressing Grant shows the hint and probes the disk again.
    const int probes = probe->calls.load();
    row(Permission::removableVolumes)->grantButton()->click();
    EXPECT_TRUE(row(Permission::removableVolumes)->isHintShown());
    ASSERT_TRUE(test::waitUntil([&] { return probe->calls.load() == probes + 1; }));
}

TEST_F(PermissionsGuideTest, AttentionProbesAgainOnlyAfterAWhileAndNeverOverTheOverlay) {
    guide.attentionReceived();
    ASSERT_TRUE(settled());
    guide.attentionReceived();
    guide.attentionReceived();
    ASSERT_TRUE(settled());
    EXPECT_EQ(probe->calls.load(), 1);
    EXPECT_EQ(changes, 4) << "each attention and the probe tell the owner";

    clock += 31s;
    overlayUp = true;
    guide.attentionReceived();
    ASSERT_TRUE(settled());
    EXPECT_EQ(probe->calls.load(), 1) << "the overlay is up";

    overlayUp = false;
    guide.attentionReceived();
    ASSERT_TRUE(settled());
    EXPECT_EQ(probe->calls.load(), 2);
}

TEST_F(PermissionsGuideTest, RequestsDuringAProbeMergeIntoOneThatCarriesTheWindowFlagAndADenialOpensItOnce) {
    const std::shared_ptr<test::Gate> first = probe->holdBack();
    probe->answer = VolumeAccess::granted;
    guide.refreshRemovableVolumes(false);
    ASSERT_TRUE(test::waitUntil([this] { return probe->calls.load() == 1; }));
    gate = probe->holdBack();  // the merged probe waits on its own gate
    guide.refreshRemovableVolumes(true);
    guide.refreshRemovableVolumes(false);
    guide.refreshRemovableVolumes(false);
    EXPECT_EQ(probe->calls.load(), 1) << "probes never overlap";
    first->open();
    ASSERT_TRUE(test::waitUntil([this] { return probe->calls.load() == 2; }));
    EXPECT_EQ(guide.removableVolumes(), VolumeAccess::granted);

    // Meanwhile the disk turned out denied: the merged request asked for the window.
    probe->answer = VolumeAccess::denied;
    gate->open();
    ASSERT_TRUE(settled());
    test::drainEvents();
    EXPECT_EQ(probe->calls.load(), 2) << "three waiting requests ran as one";
    ASSERT_TRUE(guide.window());
    EXPECT_TRUE(guide.window()->isVisible());

    guide.window()->close();
    ASSERT_TRUE(test::waitUntil([this] { return guide.window() == nullptr; }));
    guide.refreshRemovableVolumes(true);
    ASSERT_TRUE(settled());
    EXPECT_EQ(guide.window(), nullptr) << "still denied: not shown again";
    probe->answer = VolumeAccess::granted;
    guide.refreshRemovableVolumes(true);
    ASSERT_TRUE(settled());
    probe->answer = VolumeAccess::denied;
    guide.refreshRemovableVolumes(false);
    ASSERT_TRUE(settled());
    EXPECT_EQ(guide.window(), nullptr) << "a probe that did not ask for the window";
}

// The menu as the user sees it: the visible entries, a separator as "—", disabled ones in [].
QStringList visibleItems(QMenu& menu) {
    QStringList items;
    for (QAction* action : menu.actions()) {
        if (!action->isVisible()) continue;
        const QString text = action->isSeparator() ? QStringLiteral("—") : action->text();
        items << (action->isEnabled() ? text : QStringLiteral("[%1]").arg(text));
    }
    return items;
}

TEST(StatusMenu, EachOpeningShowsThePermissionsTriggersAndHistoryWarningInForce) {
    fakes::FakeSettings settings;
    fakes::FakePermissionsState permissions;
    fakes::FakePanelTheme panel;
    StatusMenu menu{settings, permissions, &panel};
    // Items are enabled once their callbacks are set.
    menu.onCaptureRegion = menu.onCaptureFullScreen = menu.onGrantPermissions = [] {};
    menu.onShowHistory = menu.onShowSettings = menu.onQuit = [] {};
    permissions.granted[Permission::removableVolumes] = false;
    menu.refresh();
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

    // A history warning puts a badge on the icon and a disabled item first.
    const QImage plain = menu.icon().pixmap(32, 32).toImage();
    menu.showHistoryWarning(QStringLiteral("Снимки не сохраняются: диск заполнен"));
    EXPECT_NE(menu.icon().pixmap(32, 32).toImage(), plain);
    EXPECT_EQ(visibleItems(menu.menu()).mid(0, 2), (QStringList{"[Снимки не сохраняются: диск заполнен]", "—"}));
    menu.showHistoryWarning(std::nullopt);
    EXPECT_EQ(menu.icon().pixmap(32, 32).toImage(), plain);
    EXPECT_EQ(visibleItems(menu.menu()).first(), QStringLiteral("Снимок области\tAlt ×2 слева"));
}

}  // namespace
