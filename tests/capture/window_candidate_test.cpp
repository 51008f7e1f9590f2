// Which entries of the on-screen window list the overlay offers for a click.
#include "capture/WindowCandidate.h"
#include "fakes/FakeContentSource.h"

#include <gtest/gtest.h>

using namespace quillet;

namespace {

const QList<QRectF> displays = {QRectF(0, 0, 1440, 900), QRectF(1440, 0, 1920, 1080)};

}  // namespace

TEST(WindowCandidate, OnlyVisibleApplicationWindowsOfUsableSize) {
    const struct {
        int layer;
        double alpha;
        QRectF frame;
        bool offered;
    } rows[] = {
        {0, 1.0, QRectF(10, 10, 640, 480), true},  {25, 1.0, QRectF(10, 10, 640, 480), false},  // a status bar
        {-1, 1.0, QRectF(10, 10, 640, 480), false}, {0, 0.0, QRectF(10, 10, 640, 480), false},  // desktop, invisible
        {0, 0.01, QRectF(10, 10, 640, 480), true},  {0, 1.0, QRectF(5, 5, 40, 40), true},
        {0, 1.0, QRectF(5, 5, 39, 200), false},     {0, 1.0, QRectF(5, 5, 200, 39.9), false},
    };
    for (const auto& row : rows) {
        const WindowCandidate candidate{7, row.layer, row.alpha, QStringLiteral("Терминал"), row.frame};
        EXPECT_EQ(capturableWindow(candidate, displays).has_value(), row.offered) << row.layer << " " << row.alpha;
    }
}

TEST(WindowCandidate, UntitledWindowCoveringADisplayIsRefused) {
    const QRectF wholeSecondDisplay(1440, 0, 1920, 1080);
    WindowCandidate shield{9, 0, 1.0, std::nullopt, wholeSecondDisplay};
    EXPECT_FALSE(capturableWindow(shield, displays));
    shield.title = QString();
    EXPECT_FALSE(capturableWindow(shield, displays));
    shield.frame = QRectF(-10, -10, 1500, 1000);  // more than the whole first display
    EXPECT_FALSE(capturableWindow(shield, displays));

    // A titled full-screen window (a video player) is the user's to pick.
    shield.title = QStringLiteral("Видео");
    EXPECT_EQ(capturableWindow(shield, displays), (CapturableWindow{9, QRectF(-10, -10, 1500, 1000)}));

    // Untitled but covering no display whole: fine.
    EXPECT_TRUE(capturableWindow(WindowCandidate{10, 0, 1.0, std::nullopt, QRectF(0, 0, 1440, 899)}, displays));
}

TEST(WindowCandidate, OnScreenListKeepsOrderSkipsUnreadableEntriesAndTheExcludedProcess) {
    fakes::FakeContentSource source;
    source.displayList = {ShareableDisplay{1, displays[0], 1.0}, ShareableDisplay{2, displays[1], 1.0}};
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
