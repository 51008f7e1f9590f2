// One capture from request to delivery, against fakes of every collaborator.
#include "app/CaptureCoordinator.h"

#include "fakes/CaptureFakes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quillet;
using namespace quillet::fakes;

namespace {

class CaptureCoordinatorTest : public ::testing::Test {
protected:
    CaptureCoordinatorTest() {
        desktop.screenList = {{1u, QRectF(0, 0, 1920, 1080)}, {2u, QRectF(1920, 0, 1280, 800)}};
        desktop.cursor = QPointF(2000, 300);
        capturer.windows = {{77u, QRectF(100, 120, 640, 480)}, {78u, QRectF(0, 0, 50, 50)}};
        coordinator = std::make_unique<CaptureCoordinator>(CaptureCoordinator::Services{
            settings, permissions, capturer, clipboard, desktop, flash, sounds, [this] {
                auto overlay = std::make_shared<FakeRegionSelection>(journal);
                made.push_back(overlay);
                if (keepOverlays) overlays.push_back(overlay);
                return overlay;
            }});
        coordinator->setPreviews(previews);
        coordinator->setHistory(recorder);
    }

    CapturedImage image(std::uint32_t screen = 1) {
        return CapturedImage{test::patternImage(QSize(40, 30)), screen, CaptureKind::region};
    }

    Journal journal;
    FakeSettings settings;
    FakePermissions permissions{journal};
    FakeCapturer capturer{journal};
    FakeClipboard clipboard{journal};
    FakeDesktop desktop;
    FakeFlash flash{journal};
    FakeSounds sounds{journal};
    std::shared_ptr<FakePreviews> previews = std::make_shared<FakePreviews>(journal);
    std::shared_ptr<FakeRecorder> recorder = std::make_shared<FakeRecorder>(journal);
    std::vector<std::shared_ptr<FakeRegionSelection>> overlays;
    std::vector<std::weak_ptr<FakeRegionSelection>> made;
    bool keepOverlays = true;  // as in the application when false: only the coordinator holds them
    std::unique_ptr<CaptureCoordinator> coordinator;
    test::LogCapture log;
    QStringList failures() const { return log.texts("quillet.capture", QtCriticalMsg); }
};

}  // namespace

TEST_F(CaptureCoordinatorTest, RegionAndWindowCapturesDeliverInOrderWithOneSharedPNGAndTheirFlash) {
    coordinator->captureRegion();
    ASSERT_EQ(overlays.size(), 1u);
    EXPECT_EQ(overlays[0]->shownWith, capturer.windows);
    EXPECT_EQ(capturer.excludedProcess, 4242);
    test::drainEvents();
    EXPECT_EQ(capturer.refreshes, 1) << "the content refresh runs alongside the overlay";

    overlays[0]->finish(RegionSelection::rectangle(QRectF(10, 20, 300, 200), 2));
    test::drainEvents();
    EXPECT_EQ(capturer.regions, (QList<QPair<QRectF, std::uint32_t>>{{QRectF(10, 20, 300, 200), 2u}}));
    EXPECT_FALSE(coordinator->isSelecting());

    capturer.complete(image(2));
    test::drainEvents();
    ASSERT_EQ(journal.calls,
              (QStringList{"overlay", "captureRegion", "flash", "clipboard", "preview", "history", "shutter"}));
    EXPECT_EQ(flash.areas, QList<QRectF>{QRectF(1930, 20, 300, 200)});
    EXPECT_TRUE(clipboard.futures[0].isSameAs(previews->futures[0]));
    EXPECT_TRUE(clipboard.futures[0].isSameAs(recorder->futures[0]));
    EXPECT_TRUE(failures().isEmpty());

    // A window flashes its frame, or nothing when it is missing from the overlay's list.
    for (const std::uint32_t window : {77u, 99u}) {
        coordinator->captureRegion();
        overlays.back()->finish(RegionSelection::window(window));
        test::drainEvents();
        capturer.complete(image());
        test::drainEvents();
    }
    EXPECT_EQ(capturer.windowIDs, (QList<std::uint32_t>{77u, 99u}));
    EXPECT_EQ(flash.areas.mid(1), QList<QRectF>{QRectF(100, 120, 640, 480)});
    EXPECT_EQ(clipboard.images.size(), 3);
}

TEST_F(CaptureCoordinatorTest, WhileSelectingARegionRequestIsIgnoredAndFullScreenCancelsTheOverlay) {
    coordinator->captureRegion();
    coordinator->captureRegion();
    test::drainEvents();
    EXPECT_EQ(overlays.size(), 1u);
    overlays[0]->finish(std::nullopt);
    test::drainEvents();
    // Cancelling leaves no trace, and a new region capture can start at once.
    EXPECT_EQ(journal.calls, QStringList{"overlay"});
    EXPECT_TRUE(failures().isEmpty());

    coordinator->captureRegion();
    ASSERT_EQ(overlays.size(), 2u);
    coordinator->captureFullScreen();
    EXPECT_EQ(overlays[1]->finishCalls, 1);
    ASSERT_EQ(capturer.fullScreenPoints, QList<QPointF>{QPointF(2000, 300)});
    test::drainEvents();
    EXPECT_TRUE(capturer.regions.isEmpty());
    EXPECT_FALSE(coordinator->isSelecting());
    capturer.complete(image(2));
    test::drainEvents();
    EXPECT_EQ(flash.areas, QList<QRectF>{QRectF(1920, 0, 1280, 800)});
}

// The history's answer reaches the capture's own preview, if it has one, while the coordinator lives.
TEST_F(CaptureCoordinatorTest, SettingsAreReadAtDeliveryTheRecorderIsOptionalAndItsAnswerReachesThePreview) {
    coordinator->captureFullScreen();
    settings.settings.showPreview = false;
    settings.settings.playShutterSound = false;
    capturer.complete(image());
    test::drainEvents();
    EXPECT_EQ(journal.calls, (QStringList{"captureFullScreen", "flash", "clipboard", "history"}));

    settings.settings = AppSettings::standard();
    for (int i = 0; i < 3; ++i) {
        coordinator->captureFullScreen();
        capturer.complete(image());
    }
    test::drainEvents();
    ASSERT_EQ(recorder->completions.size(), 4);
    ASSERT_EQ(previews->shownIDs.size(), 3);
    recorder->completions[0](Outcome::notSaved(QStringLiteral("Нет места")));  // no preview to reach
    const Screenshot stored{.id = QUuid::createUuid()};
    recorder->completions[1](Outcome::saved(stored, QStringLiteral("/tmp/a.png")));
    EXPECT_EQ(previews->attached,
              (QList<std::tuple<Screenshot, QString, QUuid>>{{stored, "/tmp/a.png", previews->shownIDs[0]}}));
    recorder->completions[2](Outcome::notSaved(QStringLiteral("Нет доступа")));
    EXPECT_EQ(previews->notSaved, (QList<QPair<QString, QUuid>>{{"Нет доступа", previews->shownIDs[1]}}));

    journal.calls.clear();
    coordinator->setHistory(nullptr);
    coordinator->captureFullScreen();
    capturer.complete(image());
    test::drainEvents();
    EXPECT_EQ(journal.calls, (QStringList{"captureFullScreen", "flash", "clipboard", "preview", "shutter"}));

    // A late answer after the coordinator is gone does nothing.
    coordinator.reset();
    recorder->completions[3](Outcome::notSaved(QStringLiteral("поздно")));
    EXPECT_EQ(previews->notSaved.size(), 1);
}

TEST_F(CaptureCoordinatorTest, WithoutPermissionOnlyTheGuideOpensAndAFailedCaptureLogsAndBeeps) {
    coordinator->warmUp();
    EXPECT_EQ(capturer.warmUps, 1);
    desktop.granted = false;
    coordinator->warmUp();
    coordinator->captureRegion();
    coordinator->captureFullScreen();
    test::drainEvents();
    EXPECT_EQ(capturer.warmUps, 1);
    EXPECT_EQ(journal.calls, (QStringList{"permissions", "permissions"}));
    EXPECT_TRUE(failures().isEmpty());

    journal.calls.clear();
    desktop.granted = true;
    coordinator->captureRegion();
    overlays[0]->finish(RegionSelection::window(77));
    test::drainEvents();
    desktop.granted = false;  // revoked while the overlay was up
    capturer.complete(unexpected(CaptureError::windowNotFound));
    test::drainEvents();
    EXPECT_EQ(failures().size(), 1);
    EXPECT_EQ(journal.calls, (QStringList{"overlay", "captureWindow", "beep", "permissions"}));

    desktop.granted = true;
    coordinator->captureFullScreen();
    capturer.complete(unexpected(CaptureError::displayNotFound));
    test::drainEvents();
    EXPECT_EQ(failures().size(), 2);
    EXPECT_EQ(journal.calls.mid(4), (QStringList{"captureFullScreen", "beep"}));
}

TEST_F(CaptureCoordinatorTest, AnOverlayOwnedOnlyByTheCoordinatorFinishesAndIsReleased) {
    keepOverlays = false;
    coordinator->captureRegion();
    FakeRegionSelection* overlay = made.at(0).lock().get();
    ASSERT_NE(overlay, nullptr);
    overlay->finish(RegionSelection::rectangle(QRectF(0, 0, 10, 10), 1));
    test::drainEvents();
    ASSERT_EQ(capturer.regions.size(), 1);
    capturer.complete(image());
    test::drainEvents();
    EXPECT_EQ(clipboard.images.size(), 1);
    EXPECT_TRUE(made[0].expired()) << "the finished overlay is released";
    coordinator->captureRegion();
    EXPECT_TRUE(coordinator->isSelecting());
}
