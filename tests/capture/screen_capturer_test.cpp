// The screen capturer's rules over a fake content source: which display a capture means, the
// pixel sizes, the content cache, leaving our own windows out, the frozen frame; and which
// entries of the on-screen window list the overlay offers for a click.
#include "capture/ScreenCapturer.h"
#include "capture/WindowCandidate.h"
#include "fakes/FakeContentSource.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quillet;
using quillet::fakes::FakeContentSource;

namespace {

constexpr std::uint32_t leftID = 11;   // 1440 × 900 points at scale 2, the main display
constexpr std::uint32_t rightID = 22;  // 1920 × 1080 points at scale 1
constexpr qint64 ownPID = 4242;

const ShareableDisplay leftDisplay{leftID, QRectF(0, 0, 1440, 900), 2.0};
const ShareableDisplay rightDisplay{rightID, QRectF(1440, 0, 1920, 1080), 1.0};
const ShareableWindow editor{100, 500, QRectF(1500, 100, 400, 300)};

std::shared_ptr<FakeContentSource> twoDisplays() {
    auto source = std::make_shared<FakeContentSource>();
    source->ownPID = ownPID;
    source->displayList = {leftDisplay, rightDisplay};
    source->mainID = leftID;
    source->snapshot = ShareableContent{{leftDisplay, rightDisplay}, {editor}, {500}};
    return source;
}

CaptureResult wait(QFuture<CaptureResult> future) {
    EXPECT_TRUE(test::waitFor(future));
    return future.result();
}

const QList<QRectF> displays = {leftDisplay.bounds, rightDisplay.bounds};

class ScreenCapturerTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeContentSource> source = twoDisplays();
    ScreenCapturer capturer{source};
};

}  // namespace

TEST_F(ScreenCapturerTest, FullScreenTakesTheDisplayUnderThePointElseTheMainOne) {

    EXPECT_EQ(wait(capturer.captureFullScreen(QPointF(1500, 50)))->screenID, rightID);
    EXPECT_EQ(source->grabList().back().areas, (QList<GrabArea>{{rightDisplay.bounds, QSize(1920, 1080)}}));

    // The column where the right display starts is the right display's.
    EXPECT_EQ(wait(capturer.captureFullScreen(QPointF(1440, 0)))->screenID, rightID);

    EXPECT_EQ(wait(capturer.captureFullScreen(QPointF(-50, 2000)))->screenID, leftID);
    EXPECT_EQ(source->grabList().back().areas, (QList<GrabArea>{{leftDisplay.bounds, QSize(2880, 1800)}}));

    source->mainID = 99;  // the main display is not in the snapshot either
    EXPECT_EQ(wait(capturer.captureFullScreen(QPointF(-50, 2000))).error(), CaptureError::displayNotFound);
}

TEST_F(ScreenCapturerTest, RegionPixelSizeRoundsHalvesUpAndIsNeverEmpty) {
    EXPECT_EQ(ScreenCapturer::makeConfiguration(QSizeF(300.4, 200.5), 2.0), (CaptureConfiguration{601, 401, {}}));
    EXPECT_EQ(ScreenCapturer::makeConfiguration(QSizeF(300.1, 100.25), 2.0), (CaptureConfiguration{600, 201, {}}));
    EXPECT_EQ(ScreenCapturer::makeConfiguration(QSizeF(0.2, 0.0), 1.0), (CaptureConfiguration{1, 1, {}}));

    CaptureResult region = wait(capturer.captureRegion(QRectF(10, 20, 300.4, 200.5), leftID));
    EXPECT_EQ(region->screenID, leftID);
    EXPECT_EQ(region->image.size(), QSize(601, 401));

    // Display-local on the right display means shifted by its origin in the grab.
    ASSERT_TRUE(wait(capturer.captureRegion(QRectF(10, 20, 0.2, 0.2), rightID)));
    EXPECT_EQ(source->grabList().back().areas, (QList<GrabArea>{{QRectF(1450, 20, 0.2, 0.2), QSize(1, 1)}}));

    EXPECT_EQ(wait(capturer.captureRegion(QRectF(0, 0, 10, 10), 77)).error(), CaptureError::displayNotFound);
}

TEST_F(ScreenCapturerTest, WindowIsLookedUpOnceMoreBeforeItCountsAsGone) {

    CaptureResult window = wait(capturer.captureWindow(editor.id));
    EXPECT_EQ(window->screenID, rightID);  // its midpoint is on the right display
    EXPECT_EQ(window->image.size(), QSize(400, 300));
    EXPECT_EQ(source->fetchCount(), 1);

    EXPECT_EQ(wait(capturer.captureWindow(555)).error(), CaptureError::windowNotFound);
    EXPECT_EQ(source->fetchCount(), 2);

    // Opened after the last fetch: found by the one fresh fetch. Its midpoint lies on no
    // display, so it counts as the main display's, at that display's scale.
    source->snapshot.windows << ShareableWindow{556, 600, QRectF(-300, -300, 200, 100)};
    CaptureResult found = wait(capturer.captureWindow(556));
    EXPECT_EQ(found->screenID, leftID);
    EXPECT_EQ(found->image.size(), QSize(400, 200));
    EXPECT_EQ(source->fetchCount(), 3);
}

TEST_F(ScreenCapturerTest, CapturesReuseTheSnapshotUntilRefreshedOrTheDisplaysChange) {
    ASSERT_TRUE(wait(capturer.captureFullScreen(QPointF(10, 10))));
    ASSERT_TRUE(wait(capturer.captureRegion(QRectF(0, 0, 50, 50), rightID)));
    ASSERT_TRUE(wait(capturer.captureWindow(editor.id)));
    EXPECT_EQ(source->fetchCount(), 1);

    ASSERT_TRUE(test::waitFor(capturer.refreshContent()));
    EXPECT_EQ(source->fetchCount(), 2);

    // A failed refresh keeps the snapshot it had.
    source->fetchFails = true;
    ASSERT_TRUE(test::waitFor(capturer.refreshContent()));
    ASSERT_TRUE(wait(capturer.captureFullScreen(QPointF(10, 10))));
    EXPECT_EQ(source->fetchCount(), 3);
    source->fetchFails = false;

    // A display went away: the next capture fetches the displays anew.
    source->changeDisplays({leftDisplay});
    EXPECT_FALSE(wait(capturer.captureRegion(QRectF(0, 0, 50, 50), rightID)));
    EXPECT_EQ(source->fetchCount(), 4);
}

TEST_F(ScreenCapturerTest, OwnWindowsAreLeftOutOnlyWhenThereAreAny) {

    // Nothing of ours on screen and none in the snapshot: nothing excluded, no extra fetch.
    ASSERT_TRUE(wait(capturer.captureFullScreen(QPointF(10, 10))));
    EXPECT_TRUE(source->grabList().back().excluded.isEmpty());
    EXPECT_EQ(source->fetchCount(), 1);

    // A preview of ours appeared after the snapshot: one fresh fetch finds us.
    source->windows = QList<WindowInfo>{WindowInfo{300, ownPID, QRectF(0, 0, 200, 100), 3, 1.0, std::nullopt}};
    source->snapshot.applications << ownPID;
    ASSERT_TRUE(wait(capturer.captureFullScreen(QPointF(10, 10))));
    EXPECT_EQ(source->grabList().back().excluded, QList<qint64>{ownPID});
    EXPECT_EQ(source->fetchCount(), 2);

    // Once known, we stay excluded even when a later snapshot misses us.
    source->windows = QList<WindowInfo>{};
    source->snapshot.applications = {500};
    source->changeDisplays({leftDisplay, rightDisplay});
    ASSERT_TRUE(wait(capturer.captureRegion(QRectF(0, 0, 10, 10), leftID)));
    EXPECT_EQ(source->grabList().back().excluded, QList<qint64>{ownPID});
    EXPECT_EQ(source->fetchCount(), 3);

    // An unreadable window list counts as "maybe ours on screen".
    auto unknown = twoDisplays();
    unknown->windows = std::nullopt;
    ScreenCapturer other(unknown);
    ASSERT_TRUE(wait(other.captureFullScreen(QPointF(10, 10))));
    EXPECT_EQ(unknown->fetchCount(), 2);
}

TEST_F(ScreenCapturerTest, SelectionsAreCutFromTheFrozenFrameOnce) {
    // Every pixel says where it is and its blue which display, so a cut can be checked exactly.
    const auto where = [](const GrabArea& area) {
        QImage image(area.pixelSize, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb(x % 256, y % 256, area.area.x() > 0 ? 200 : 100));
        }
        return image;
    };
    source->paint = where;
    const QList<FrozenDisplay> frozen = capturer.freeze();
    ASSERT_EQ(frozen.size(), 2);
    EXPECT_EQ(frozen[0].display, leftDisplay);
    EXPECT_EQ(frozen[0].image.size(), QSize(2880, 1800));
    EXPECT_EQ(frozen[1].image.size(), QSize(1920, 1080));
    ASSERT_EQ(source->grabList().size(), 1u);
    EXPECT_EQ(source->grabList().front().excluded, QList<qint64>{ownPID});

    const QRectF cut(30, 40, 50, 20);
    EXPECT_EQ(wait(capturer.captureRegion(cut, rightID))->image, frozen[1].image.copy(cut.toRect()));
    EXPECT_EQ(source->grabList().size(), 1u);  // no live grab

    // Used up: the next region is grabbed live.
    source->paint = nullptr;
    EXPECT_EQ(wait(capturer.captureRegion(cut, rightID))->image.pixelColor(0, 0), source->grabColour);

    // A window across both displays is put together from both frozen images, each at its
    // own scale; it is brought to the scale of the display holding its midpoint.
    source->paint = where;
    capturer.freeze();
    source->snapshot.windows << ShareableWindow{700, 500, QRectF(1340, 100, 200, 100)};
    CaptureResult across = wait(capturer.captureWindow(700));
    EXPECT_EQ(across->screenID, rightID);
    ASSERT_EQ(across->image.size(), QSize(200, 100));
    EXPECT_EQ(qBlue(across->image.pixel(5, 50)), 100);
    EXPECT_EQ(qBlue(across->image.pixel(195, 50)), 200);

    // A cancelled selection lets the frame go.
    capturer.freeze();
    capturer.thaw();
    source->paint = nullptr;
    EXPECT_EQ(wait(capturer.captureRegion(QRectF(0, 0, 10, 10), leftID))->image.pixelColor(0, 0), source->grabColour);
}

// A warm-up fetches and grabs one pixel of the main display, and swallows failures; captures
// report them.
TEST_F(ScreenCapturerTest, WarmUpSwallowsPlatformFailuresAndCapturesReportThem) {
    source->fetchFails = true;
    ASSERT_TRUE(test::waitFor(capturer.warmUp()));
    EXPECT_TRUE(source->grabList().empty());
    EXPECT_EQ(wait(capturer.captureFullScreen(QPointF(10, 10))).error(), CaptureError::grabFailed);

    source->fetchFails = false;
    const int fetches = source->fetchCount();
    ASSERT_TRUE(test::waitFor(capturer.warmUp()));
    EXPECT_EQ(source->fetchCount(), fetches + 1);
    EXPECT_EQ(source->grabList().back().areas, (QList<GrabArea>{{QRectF(0, 0, 1, 1), QSize(1, 1)}}));
    source->grabFails = true;
    EXPECT_FALSE(wait(capturer.captureRegion(QRectF(0, 0, 10, 10), leftID)));
    EXPECT_TRUE(capturer.freeze().isEmpty());
}

TEST(WindowCandidate, OnlyVisibleApplicationWindowsOfUsableSizeAndNoUntitledShields) {
    const QRectF usual(10, 10, 640, 480);
    const QRectF overTheFirstDisplay(-10, -10, 1500, 1000);
    const QString terminal = QStringLiteral("Терминал");
    const struct {
        int layer;
        double alpha;
        QRectF frame;
        std::optional<QString> title;
        bool offered;
    } rows[] = {
        {0, 1.0, usual, terminal, true},  {25, 1.0, usual, terminal, false},  // a status bar
        {-1, 1.0, usual, terminal, false}, {0, 0.0, usual, terminal, false},  // desktop, invisible
        {0, 0.01, usual, terminal, true},  {0, 1.0, QRectF(5, 5, 40, 40), terminal, true},
        {0, 1.0, QRectF(5, 5, 39, 200), terminal, false}, {0, 1.0, QRectF(5, 5, 200, 39.9), terminal, false},
        // Untitled and covering a display whole: a shield, not a window. A titled one (a video
        // player) is the user's to pick, and so is an untitled one that leaves part of a display.
        {0, 1.0, rightDisplay.bounds, std::nullopt, false}, {0, 1.0, rightDisplay.bounds, QString(), false},
        {0, 1.0, overTheFirstDisplay, std::nullopt, false},
        {0, 1.0, overTheFirstDisplay, QStringLiteral("Видео"), true},
        {0, 1.0, QRectF(0, 0, 1440, 899), std::nullopt, true},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const WindowCandidate candidate{7, rows[i].layer, rows[i].alpha, rows[i].title, rows[i].frame};
        EXPECT_EQ(capturableWindow(candidate, displays).has_value(), rows[i].offered) << "row " << i;
    }
}

TEST(WindowCandidate, OnScreenListKeepsOrderSkipsUnreadableEntriesAndTheExcludedProcess) {
    FakeContentSource source;
    source.displayList = {leftDisplay, rightDisplay};
    const QRectF frame(100, 100, 300, 200);
    source.windows = QList<WindowInfo>{
        WindowInfo{1, 500, frame, 0, 1.0, QStringLiteral("front")},
        WindowInfo{2, 4242, frame, 0, 1.0, QStringLiteral("ours")},
        WindowInfo{3, 4242, frame, 25, 1.0, QStringLiteral("ours, on a panel layer")},
        WindowInfo{4, 501, std::nullopt, 0, 1.0, QStringLiteral("no frame")},
        // Nothing but a number and a frame: layer 0, opaque, untitled.
        WindowInfo{5, std::nullopt, frame.translated(10, 10), std::nullopt, std::nullopt, std::nullopt},
        WindowInfo{8, 504, frame.translated(1500, 0), 0, 0.5, QStringLiteral("back")},
    };
    const QList<CapturableWindow> windows = onScreenWindows(source, 4242);
    EXPECT_EQ(windows, (QList<CapturableWindow>{{1, frame}, {5, frame.translated(10, 10)}, {8, frame.translated(1500, 0)}}));

    source.windows = std::nullopt;  // the list could not be read
    EXPECT_TRUE(onScreenWindows(source, 4242).isEmpty());
}
