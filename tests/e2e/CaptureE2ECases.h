// The screen capture end to end, on a private X server split into two displays: the real X11
// content source, capturer, region overlay and flash, windows of another process painting a
// known pattern, xdotool for the pointer and keys. Included by capture_e2e_test.cpp (no
// compositing manager) and capture_picom_e2e_test.cpp (picom running), which choose the
// session; everything here must hold in both.
#pragma once

#include "app/CaptureCoordinator.h"
#include "capture/ScreenCapturer.h"
#include "e2e/harness/Pattern.h"
#include "e2e/harness/X11Parts.h"
#include "e2e/harness/XWindows.h"
#include "fakes/CaptureFakes.h"
#include "platform/desktop/ShutterSound.h"
#include "platform/x11/DisplayIdentity.h"
#include "platform/x11/X11CompositorWatcher.h"
#include "platform/x11/X11ContentSource.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11WindowStyling.h"
#include "ui/overlay/CaptureFlash.h"
#include "ui/overlay/RegionSelectionController.h"
#include "ui/overlay/RegionSelectionPanels.h"
#include "ui/previews/PreviewPanel.h"
#include "ui/previews/PreviewStack.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace quillet;
using namespace quillet::e2e;

const QRect rightDisplay(1280, 0, 1024, 768);

void movePointer(QPoint to) {
    pointerTo(to);
    XSession::waitUntil([&] { return QCursor::pos() == to; }, 5s);
}

std::uint32_t rightDisplayID() { return DisplayIdentity::displayID(QGuiApplication::screenAt(rightDisplay.center())); }

// Whether `image` holds `expected` at `at`, pixel for pixel (whatever colour space it claims).
bool holds(const QImage& image, QPoint at, const QImage& expected) {
    if (!QRect(QPoint(0, 0), image.size()).contains(QRect(at, expected.size()))) return false;
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            if ((image.pixel(at.x() + x, at.y() + y) ^ expected.pixel(x, y)) & 0xffffffu) return false;
        }
    }
    return true;
}

// A window of another process painting the pattern of `seed`; stopped when this goes.
class PatternWindow {
public:
    PatternWindow(const QString& title, QRect geometry, int seed, bool framed = false)
        : process(QStringLiteral(QUILLET_PATTERN_WINDOW),
                  {title, QString::number(geometry.x()), QString::number(geometry.y()), QString::number(geometry.width()),
                   QString::number(geometry.height()), QString::number(seed), framed ? QStringLiteral("1") : QStringLiteral("0")}),
          seed(seed) {
        QList<XWindowState> shown;
        XSession::waitUntil([&] { return !(shown = windowsTitled(title + QStringLiteral(" ready"))).isEmpty(); });
        id = shown.value(0).id;
        client = shown.value(0).rect;
    }

    QImage pattern() const { return e2e::patternImage(client.width(), client.height(), seed); }
    // Waits until the whole window shows on screen (nothing covers it, the manager is done).
    bool isShown() const {
        return XSession::waitUntil([&] { return holds(XSession::current().importRoot(), client.topLeft(), pattern()); });
    }

    StartedProcess process;
    std::uint32_t id = 0;
    QRect client;
    int seed;
};

// The capture pipeline as the application builds it, with fakes only where the capture hands
// its result on (clipboard, permissions, settings).
struct Pipeline {
    Pipeline()
        : coordinator(CaptureCoordinator::Services{settings, permissions, capturer, clipboard, desktop, flash, sounds, [this] {
              auto controller = std::make_shared<RegionSelectionController>(capturer, desktop, panels);
              overlay = controller;
              return std::shared_ptr<RegionSelecting>(controller);
          }}) {}

    fakes::Journal journal;
    fakes::FakeSettings settings;
    fakes::FakePermissions permissions{journal};
    fakes::FakeClipboard clipboard{journal};
    std::shared_ptr<X11ContentSource> source = std::make_shared<X11ContentSource>();
    ScreenCapturer capturer{source};
    X11Desktop desktop;
    X11CompositorWatcher compositor;
    X11WindowStyling styling;
    CaptureFlash flash{styling, [this] { return compositor.compositingManagerRunning(); }};
    ShutterSound sounds;
    std::shared_ptr<RegionSelectionPanels> panels = std::make_shared<RegionSelectionPanels>(styling.overlayFlags());
    std::weak_ptr<RegionSelectionController> overlay;
    CaptureCoordinator coordinator;
};

// Starts a region capture and waits until the X server shows the overlay on both displays.
std::shared_ptr<RegionSelectionController> openOverlay(Pipeline& pipeline) {
    pipeline.coordinator.captureRegion();
    auto overlay = pipeline.overlay.lock();
    const auto shown = [&] {
        const QList<RegionSelectionView*> panels = overlay->panels();
        return panels.size() == 2 && xWindow(panels[0]->winId()).viewable && xWindow(panels[1]->winId()).viewable;
    };
    return overlay && XSession::waitUntil(shown) ? overlay : nullptr;
}

}  // namespace

TEST(Capture, WindowsAreOfferedWithTheirFramesEscapeGivesTheFocusBackAndAClickTakesTheFrontOne) {
    PatternWindow framed(QStringLiteral("quillet-e2e-framed"), QRect(200, 150, 320, 240), 1, true);
    PatternWindow back(QStringLiteral("quillet-e2e-back"), QRect(1350, 100, 400, 300), 5);
    PatternWindow front(QStringLiteral("quillet-e2e-front"), QRect(1450, 150, 300, 200), 6);
    XSession::current().xdotool({QStringLiteral("windowraise"), QString::number(front.id)});
    ASSERT_TRUE(framed.id && front.isShown());
    Pipeline pipeline;

    // Escape on the second display closes both overlays, and the focus is where it was.
    activate(framed.id);
    ASSERT_EQ(activeWindow(), framed.id);
    movePointer(QPoint(400, 400));
    const auto overlay = openOverlay(pipeline);
    ASSERT_TRUE(overlay);
    QList<std::uint32_t> panelIDs;
    for (RegionSelectionView* panel : overlay->panels()) panelIDs << static_cast<std::uint32_t>(panel->winId());
    movePointer(QPoint(1600, 400));
    keys({QStringLiteral("Escape")});
    EXPECT_TRUE(XSession::waitUntil([&] {
        return !pipeline.coordinator.isSelecting() && !xWindow(panelIDs[0]).viewable && !xWindow(panelIDs[1]).viewable;
    }));
    EXPECT_TRUE(pipeline.clipboard.images.isEmpty());
    EXPECT_EQ(activeWindow(), framed.id);

    FlatWindow ours(QRect(700, 400, 200, 100), Qt::magenta);
    ours.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ours, 10000));
    ScreenCapturer& capturer = pipeline.capturer;
    const qint64 ownPID = QCoreApplication::applicationPid();
    const auto listed = [&](std::uint32_t id, qint64 excluding) {
        const QList<CapturableWindow> windows = capturer.onScreenWindows(excluding);
        const auto found = std::find_if(windows.begin(), windows.end(), [&](const CapturableWindow& w) { return w.id == id; });
        return found == windows.end() ? std::optional<QRectF>() : found->frame;
    };
    // The frame is the window manager's frame window: decorations included.
    const QRect frame = xWindow(xWindow(framed.id).parent).rect;
    ASSERT_GT(frame.height(), framed.client.height());
    EXPECT_TRUE(XSession::waitUntil([&] { return listed(framed.id, ownPID) == QRectF(frame); }))
        << "frame " << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height();
    EXPECT_FALSE(listed(std::uint32_t(ours.winId()), ownPID));
    EXPECT_TRUE(listed(std::uint32_t(ours.winId()), -1));
    // The task bar is listed by the platform, on a layer of its own, and never offered.
    std::optional<WindowInfo> dock;
    ASSERT_TRUE(XSession::waitUntil([&] {
        for (const WindowInfo& w : pipeline.source->windowList().value_or(QList<WindowInfo>())) {
            if (w.layer == X11ContentSource::dockLayer) dock = w;
        }
        return dock.has_value();
    }));
    EXPECT_FALSE(listed(dock->id, -1));

    movePointer(front.client.center());
    ASSERT_TRUE(openOverlay(pipeline));
    XSession::current().xdotool({QStringLiteral("click"), QStringLiteral("1")});
    ASSERT_TRUE(XSession::waitUntil([&] { return !pipeline.clipboard.images.isEmpty(); }));
    const CapturedImage& image = pipeline.clipboard.images.front();
    EXPECT_EQ(image.kind, CaptureKind::window);
    ASSERT_EQ(image.image.size(), front.client.size());
    EXPECT_TRUE(holds(image.image, QPoint(0, 0), front.pattern()));
}

// Our window lies over the middle of the pattern; the region is dragged beside it.
TEST(Capture, FullScreenAndRegionTakeExactlyTheirPixelsWithoutWhatWeShow) {
    PatternWindow window(QStringLiteral("quillet-e2e-under"), QRect(1400, 200, 300, 200), 3);
    ASSERT_TRUE(window.isShown());
    FlatWindow ours(QRect(window.client.x() + 50, window.client.y() + 50, 150, 100), Qt::magenta, Qt::WindowStaysOnTopHint);
    ours.show();
    const QPoint inside = ours.geometry().center();
    const auto oursShown = [&] {
        const QImage root = XSession::current().importRoot();
        return ours.isVisible() && !root.isNull() && root.pixelColor(inside) == QColor(Qt::magenta);
    };
    ASSERT_TRUE(XSession::waitUntil(oursShown));
    Pipeline pipeline;
    movePointer(inside);

    const QFuture<CaptureResult> capture = pipeline.capturer.captureFullScreen(pipeline.desktop.cursorPosition());
    ASSERT_TRUE(XSession::waitUntil([&] { return capture.isFinished(); }));
    const CaptureResult result = capture.result();
    ASSERT_TRUE(result) << describe(result.error()).toStdString();
    EXPECT_EQ(result->kind, CaptureKind::fullScreen);
    EXPECT_EQ(result->screenID, rightDisplayID());
    ASSERT_EQ(result->image.size(), rightDisplay.size());
    // All of the pattern, also where ours lies over it.
    EXPECT_TRUE(holds(result->image, window.client.topLeft() - rightDisplay.topLeft(), window.pattern()));
    EXPECT_TRUE(XSession::waitUntil(oursShown)) << "ours is not back where it was";

    const QPoint from = window.client.topLeft() + QPoint(200, 10);
    movePointer(from);
    const auto overlay = openOverlay(pipeline);
    ASSERT_TRUE(overlay);
    dragTo(from + QPoint(100, 80));
    ASSERT_TRUE(XSession::waitUntil([&] { return !pipeline.clipboard.images.isEmpty(); }));
    const CapturedImage& image = pipeline.clipboard.images.front();
    EXPECT_EQ(image.kind, CaptureKind::region);
    EXPECT_EQ(image.screenID, rightDisplayID());
    ASSERT_EQ(image.image.size(), QSize(100, 80));
    EXPECT_TRUE(holds(image.image, QPoint(0, 0), window.pattern().copy(200, 10, 100, 80)));
    EXPECT_FALSE(overlay->isOpen());
}

// The preview card is round and translucent exactly when a compositor can show it so. A
// preview showing just what is beneath it still stays out of a capture: leaving our windows
// out must not wait for the screen to change.
TEST(Capture, APreviewIsRoundOnlyUnderACompositorAndStaysOutOfCapturesEvenWhenItLooksLikeTheScreen) {
    // Short of the display's panel: openbox keeps an undecorated window as large as a display
    // above every other, the card included, which would leave nothing of ours to withdraw.
    PatternWindow flat(QStringLiteral("quillet-e2e-flat"), rightDisplay.adjusted(0, 0, 0, -40), 0);
    ASSERT_TRUE(flat.isShown());
    QTemporaryDir drags;
    fakes::Journal journal;
    fakes::FakeClipboard clipboard{journal};
    test::X11Parts x11;
    PreviewStack stack(clipboard, x11.previewDesktop(), drags.path());
    const QImage picture = flat.pattern();
    const QUuid id = stack.show(CapturedImage{picture, rightDisplayID(), CaptureKind::fullScreen}, PNGFuture(picture));
    ASSERT_TRUE(stack.panel(id));
    EXPECT_EQ(stack.panel(id)->hasRoundedCard(), registeredSessionOptions().compositor);
    const std::uint32_t card = std::uint32_t(stack.panel(id)->winId());
    // Mapped is not yet drawn (a compositor paints it a frame later): wait until the screen
    // shows the card, which differs from what lies beneath at its edges.
    ASSERT_TRUE(XSession::waitUntil([&] {
        const QRect place = xWindow(card).rect;
        const QImage root = XSession::current().importRoot();
        return !root.isNull() && !holds(root, place.topLeft(), picture.copy(place.translated(-flat.client.topLeft())));
    })) << "the card never showed";

    Pipeline pipeline;
    const QFuture<CaptureResult> capture = pipeline.capturer.captureFullScreen(QPointF(rightDisplay.center()));
    ASSERT_TRUE(XSession::waitUntil([&] { return capture.isFinished(); }));
    ASSERT_TRUE(capture.result());
    EXPECT_EQ(capture.result()->image.convertToFormat(QImage::Format_RGB32).copy(QRect(QPoint(0, 0), picture.size())), picture);
    EXPECT_TRUE(XSession::waitUntil([&] { return xWindow(card).viewable; })) << "the preview came back";
}

// Last: it splits the right display in two. The next capture fetches the displays anew instead
// of using the ones it had cached.
TEST(Capture, ACaptureAfterTheDisplaysChangedSeesTheNewOnes) {
    Pipeline pipeline;
    const auto fullScreen = [&] {
        const QFuture<CaptureResult> capture = pipeline.capturer.captureFullScreen(QPointF(2000, 400));
        EXPECT_TRUE(XSession::waitUntil([&] { return capture.isFinished(); }));
        return capture.result();
    };
    ASSERT_EQ(fullScreen()->image.size(), rightDisplay.size());

    // E2E-1 is the session's right display; two new ones take its halves.
    const RunResult split = XSession::current().run(
        QStringLiteral("xrandr"), words(QStringLiteral("--delmonitor E2E-1 --setmonitor SPLIT-0 512/135x768/203+1280+0 none "
                                                       "--setmonitor SPLIT-1 512/135x768/203+1792+0 none")));
    ASSERT_TRUE(split.ok()) << split.err.toStdString();
    ASSERT_TRUE(XSession::waitUntil([] { return QGuiApplication::screens().size() == 3; }));
    // The displays reach the source through the main thread's screen signals.
    ASSERT_TRUE(XSession::waitUntil([&] { return pipeline.source->displays().size() == 3; }));
    const CaptureResult after = fullScreen();
    ASSERT_TRUE(after);
    EXPECT_EQ(after->image.size(), QSize(512, 768));
    EXPECT_EQ(after->screenID, DisplayIdentity::displayID(QGuiApplication::screenAt(QPoint(2000, 400))));
}
