#include "ui/tray/PermissionsGuide.h"
#include "ui/tray/PermissionsWindow.h"
#include "fakes/FakeDesktopServices.h"
#include "support/TestSupport.h"

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

TEST_F(PermissionsGuideTest, RowsShowWhatIsGrantedAndTheDiskRowOnlyForAnExternalFolder) {
    inputGranted = false;
    guide.showWindow();
    ASSERT_TRUE(guide.window());
    EXPECT_TRUE(row(Permission::screenRecording)->isGrantedShown());
    EXPECT_FALSE(row(Permission::inputMonitoring)->isGrantedShown());
    EXPECT_FALSE(row(Permission::inputMonitoring)->grantButton()->isHidden());
    EXPECT_TRUE(row(Permission::removableVolumes)->isHidden()) << "the history is not on an external disk";

    struct Case {
        VolumeAccess access;
        bool rowShown, granted;
    };
    for (const Case& c : {Case{VolumeAccess::denied, true, false}, Case{VolumeAccess::granted, true, true},
                          Case{VolumeAccess::notMounted, false, true}, Case{VolumeAccess::notExternal, false, true}}) {
        probe->answer = c.access;
        guide.refreshRemovableVolumes(false);
        ASSERT_TRUE(settled());
        EXPECT_EQ(!row(Permission::removableVolumes)->isHidden(), c.rowShown) << int(c.access);
        EXPECT_EQ(row(Permission::removableVolumes)->isGrantedShown(), c.granted) << int(c.access);
        EXPECT_EQ(guide.isGranted(Permission::removableVolumes), c.granted);
    }
    EXPECT_EQ(probe->folders().first(), QStringLiteral("/media/anna/Disk/Shots"));
}

TEST_F(PermissionsGuideTest, ADeniedDiskOpensTheWindowOnceWhenAsked) {
    probe->answer = VolumeAccess::denied;
    guide.refreshRemovableVolumes(true);
    ASSERT_TRUE(settled());
    ASSERT_TRUE(guide.window());
    EXPECT_TRUE(guide.window()->isVisible());
    EXPECT_EQ(changes, 1);

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

TEST_F(PermissionsGuideTest, AttentionProbesAtMostEveryThirtySecondsAndNeverOverTheOverlay) {
    guide.attentionReceived();
    ASSERT_TRUE(settled());
    guide.attentionReceived();
    guide.attentionReceived();
    ASSERT_TRUE(settled());
    EXPECT_EQ(probe->calls.load(), 1);
    EXPECT_EQ(changes, 4) << "each attention and the probe tell the owner";

    clock += 29s;
    guide.attentionReceived();
    ASSERT_TRUE(settled());
    EXPECT_EQ(probe->calls.load(), 1);

    clock += 2s;
    overlayUp = true;
    guide.attentionReceived();
    ASSERT_TRUE(settled());
    EXPECT_EQ(probe->calls.load(), 1) << "the overlay is up";

    overlayUp = false;
    guide.attentionReceived();
    ASSERT_TRUE(settled());
    EXPECT_EQ(probe->calls.load(), 2);
}

TEST_F(PermissionsGuideTest, RequestsDuringAProbeMergeIntoOneThatCarriesTheWindowFlag) {
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
}

TEST_F(PermissionsGuideTest, GrantExplainsInTheWindowAndLooksAgain) {
    inputGranted = false;
    guide.showWindow();
    PermissionRow* input = row(Permission::inputMonitoring);
    EXPECT_FALSE(input->isHintShown());

    inputGranted = true;  // the user fixed it meanwhile
    input->grantButton()->click();
    EXPECT_TRUE(input->isGrantedShown());
    EXPECT_EQ(changes, 1) << "the owner retries the hot keys";

    probe->answer = VolumeAccess::denied;
    guide.refreshRemovableVolumes(false);
    ASSERT_TRUE(settled());
    row(Permission::removableVolumes)->grantButton()->click();
    EXPECT_TRUE(row(Permission::removableVolumes)->isHintShown());
    ASSERT_TRUE(test::waitUntil([this] { return probe->calls.load() == 2; })) << "pressing it probes the disk again";
}

}  // namespace
