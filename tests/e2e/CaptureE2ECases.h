// The screen capture end to end, on a private X server split into two displays: the real X11
// content source, capturer, region overlay and flash, windows of another process painting a
// known pattern, xdotool for the pointer and keys. Included by capture_e2e_test.cpp (no
// compositing manager) and capture_picom_e2e_test.cpp (picom running), which choose the
// session; everything here must hold in both.
#pragma once

#include "app/CaptureCoordinator.h"
#include "ui/overlay/CaptureFlash.h"
#include "ui/overlay/RegionSelectionController.h"
#include "capture/ScreenCapturer.h"
#include "e2e/harness/Pattern.h"
#include "e2e/harness/XSession.h"
#include "e2e/harness/XWindows.h"
#include "fakes/CaptureFakes.h"
#include "platform/x11/DisplayIdentity.h"
#include "platform/desktop/ShutterSound.h"
#include "platform/x11/X11ContentSource.h"
#include "platform/x11/X11CompositorWatcher.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11WindowStyling.h"
#include "ui/overlay/RegionSelectionPanels.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace quillet;
using namespace quillet::e2e;

const QRect leftDisplay(0, 0, 1280, 800);
const QRect rightDisplay(1280, 0, 1024, 768);

template <class T>
bool waitFor(const QFuture<T>& future) {
    return XSession::waitUntil([&] { return future.isFinished(); }, std::chrono::seconds(20));
}

void movePointer(QPoint to) {
    pointerTo(to);
    XSession::waitUntil([&] { return QCursor::pos() == to; }, std::chrono::seconds(5));
}

QScreen* screenWithGeometry(const QRect& geometry) {
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->geometry() == geometry) return screen;
    }
    return nullptr;
}

// Whether `image` holds `expected` at `at`, pixel for pixel; the first difference goes to `why`.
bool holds(const QImage& image, QPoint at, const QImage& expected, std::string* why) {
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            const QRgb seen = image.pixel(at.x() + x, at.y() + y) | 0xff000000u;
            const QRgb wanted = expected.pixel(x, y) | 0xff000000u;
            if (seen != wanted) {
                *why = QStringLiteral("at %1,%2: %3 instead of %4")
                           .arg(x)
                           .arg(y)
                           .arg(QColor(seen).name(), QColor(wanted).name())
                           .toStdString();
                return false;
            }
        }
    }
    return true;
}

// A window of another process painting the pattern of `seed`; stopped when this goes.
class PatternWindow {
public:
    PatternWindow(const QString& title, QRect geometry, int seed, bool framed = false) : seed(seed) {
        process = XSession::current().startProcess(
            QStringLiteral(QUILLET_PATTERN_WINDOW),
            {title, QString::number(geometry.x()), QString::number(geometry.y()), QString::number(geometry.width()),
             QString::number(geometry.height()), QString::number(seed), framed ? QStringLiteral("1") : QStringLiteral("0")});
        XSession::waitUntil([&] {
            const auto found = XSession::current().xdotool(
                {QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("^%1 ready$").arg(title)});
            id = found.ok() ? found.out.trimmed().split('\n').front().toUInt() : 0;
            return id != 0;
        });
        if (id) client = xWindow(id).rect;
    }
    ~PatternWindow() { XSession::current().stopProcess(process); }
    PatternWindow(const PatternWindow&) = delete;
    PatternWindow& operator=(const PatternWindow&) = delete;

    QImage pattern() const { return e2e::patternImage(client.width(), client.height(), seed); }
    QRgb pixelAt(QPoint global) const { return e2e::patternPixel(global.x() - client.x(), global.y() - client.y(), seed); }
    // Waits until the whole window shows on screen (nothing covers it, the manager is done).
    bool isShown() const {
        return XSession::waitUntil([&] {
            std::string why;
            const QImage root = XSession::current().importRoot();
            return !root.isNull() && holds(root, client.topLeft(), pattern(), &why);
        });
    }

    QProcess* process = nullptr;
    std::uint32_t id = 0;
    QRect client;
    int seed;
};

// Overlay windows with the window traits the application gives them.
inline std::shared_ptr<RegionSelectionPanels> x11OverlayPanels() {
    return std::make_shared<RegionSelectionPanels>(X11WindowStyling().overlayFlags());
}

// Remembers every flash before passing it on to the real one.
class RecordingFlash : public CaptureFlashing {
public:
    void show(QRectF over) override {
        areas << over;
        flash.show(over);
    }
    QList<QRectF> areas;
    X11CompositorWatcher compositor;
    CaptureFlash flash{X11WindowStyling().overlayFlags(), [this] { return compositor.compositingManagerRunning(); }};
};

// The capture pipeline as the application builds it, with fakes only where the capture hands
// its result on (clipboard, permissions, settings).
struct Pipeline {
    Pipeline()
        : coordinator(CaptureCoordinator::Services{settings, permissions, capturer, clipboard, desktop, flash, sounds, [this] {
              auto controller = std::make_shared<RegionSelectionController>(capturer, desktop, x11OverlayPanels());
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
    RecordingFlash flash;
    ShutterSound sounds;
    std::weak_ptr<RegionSelectionController> overlay;
    CaptureCoordinator coordinator;
};

}  // namespace

TEST(Capture, ListsAWindowWithItsFrameAndLeavesOutPanelsAndOurOwn) {
    PatternWindow framed(QStringLiteral("quillet-e2e-framed"), QRect(200, 150, 320, 240), 1, true);
    ASSERT_NE(framed.id, 0u);
    FlatWindow ours(QRect(700, 400, 200, 100), Qt::magenta);
    ours.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ours, 10000));

    auto source = std::make_shared<X11ContentSource>();
    ASSERT_TRUE(source->isConnected());
    ScreenCapturer capturer(source);
    const qint64 ownPID = QCoreApplication::applicationPid();
    const auto ourID = static_cast<std::uint32_t>(ours.winId());

    // The frame is the window manager's frame window: decorations included.
    const QRect frame = xWindow(xWindow(framed.id).parent).rect;
    ASSERT_GT(frame.height(), framed.client.height());
    bool listed = false;
    XSession::waitUntil([&] {
        for (const CapturableWindow& window : capturer.onScreenWindows(ownPID)) {
            if (window.id == framed.id) listed = window.frame == QRectF(frame);
        }
        return listed;
    });
    EXPECT_TRUE(listed) << "frame " << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height();

    const QList<CapturableWindow> withoutUs = capturer.onScreenWindows(ownPID);
    EXPECT_TRUE(std::none_of(withoutUs.begin(), withoutUs.end(), [&](const CapturableWindow& w) { return w.id == ourID; }));
    const QList<CapturableWindow> everyone = capturer.onScreenWindows(-1);
    EXPECT_TRUE(std::any_of(everyone.begin(), everyone.end(), [&](const CapturableWindow& w) { return w.id == ourID; }));

    // The task bar is listed by the platform, on a layer of its own, and never offered.
    const std::optional<QList<WindowInfo>> list = source->windowList();
    ASSERT_TRUE(list);
    const auto dock = std::find_if(list->begin(), list->end(),
                                   [](const WindowInfo& w) { return w.layer == X11ContentSource::dockLayer; });
    ASSERT_NE(dock, list->end());
    EXPECT_TRUE(std::none_of(everyone.begin(), everyone.end(), [&](const CapturableWindow& w) { return w.id == dock->id; }));
}

TEST(Capture, FullScreenTakesTheDisplayUnderThePointerWithoutWhatWeShow) {
    PatternWindow window(QStringLiteral("quillet-e2e-under"), QRect(1400, 200, 300, 200), 3);
    ASSERT_TRUE(window.isShown());
    FlatWindow ours(QRect(window.client.x() + 50, window.client.y() + 50, 150, 100), Qt::magenta, Qt::WindowStaysOnTopHint);
    ours.show();
    const QPoint inside = ours.geometry().center();
    ASSERT_TRUE(XSession::waitUntil([&] {
        const QImage root = XSession::current().importRoot();
        return !root.isNull() && root.pixelColor(inside) == QColor(Qt::magenta);
    }));
    Pipeline pipeline;
    movePointer(inside);

    const QFuture<CaptureResult> capture = pipeline.capturer.captureFullScreen(pipeline.desktop.cursorPosition());
    ASSERT_TRUE(waitFor(capture));
    const CaptureResult result = capture.result();
    ASSERT_TRUE(result) << describe(result.error()).toStdString();
    EXPECT_EQ(result->kind, CaptureKind::fullScreen);
    EXPECT_EQ(result->screenID, DisplayIdentity::displayID(screenWithGeometry(rightDisplay)));
    const QImage& image = result->image;
    ASSERT_EQ(image.size(), rightDisplay.size());
    int magenta = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) magenta += (image.pixel(x, y) & 0xffffffu) == 0xff00ffu;
    }
    EXPECT_EQ(magenta, 0);
    std::string why;
    EXPECT_TRUE(holds(image, window.client.topLeft() - rightDisplay.topLeft(), window.pattern(), &why)) << why;

    // Ours is back where it was.
    EXPECT_TRUE(XSession::waitUntil([&] {
        const QImage root = XSession::current().importRoot();
        return ours.isVisible() && !root.isNull() && root.pixelColor(inside) == QColor(Qt::magenta);
    }));
}

TEST(Capture, RegionDragGivesExactlyTheDraggedPixels) {
    PatternWindow window(QStringLiteral("quillet-e2e-region"), QRect(1400, 200, 300, 200), 4);
    ASSERT_TRUE(window.isShown());
    Pipeline pipeline;
    movePointer(window.client.topLeft() + QPoint(10, 10));

    pipeline.coordinator.captureRegion();
    auto overlay = pipeline.overlay.lock();
    ASSERT_TRUE(overlay);
    ASSERT_EQ(overlay->panels().size(), 2);
    const QPoint from = window.client.topLeft() + QPoint(10, 10);
    const QPoint to = from + QPoint(100, 80);
    dragTo(to);
    ASSERT_TRUE(XSession::waitUntil([&] { return !pipeline.clipboard.images.isEmpty(); }));

    const CapturedImage& image = pipeline.clipboard.images.front();
    EXPECT_EQ(image.kind, CaptureKind::region);
    EXPECT_EQ(image.screenID, DisplayIdentity::displayID(screenWithGeometry(rightDisplay)));
    ASSERT_EQ(image.image.size(), QSize(100, 80));
    std::string why;
    EXPECT_TRUE(holds(image.image, QPoint(0, 0), window.pattern().copy(10, 10, 100, 80), &why)) << why;
    EXPECT_EQ(pipeline.flash.areas, QList<QRectF>{QRectF(QRect(from, to - QPoint(1, 1)))});
    EXPECT_FALSE(overlay->isOpen());
    EXPECT_FALSE(pipeline.coordinator.isSelecting());
}

TEST(Capture, ClickPicksTheFrontMostWindowUnderThePointer) {
    PatternWindow back(QStringLiteral("quillet-e2e-back"), QRect(1350, 100, 400, 300), 5);
    PatternWindow front(QStringLiteral("quillet-e2e-front"), QRect(1450, 150, 300, 200), 6);
    XSession::current().xdotool({QStringLiteral("windowraise"), QString::number(front.id)});
    ASSERT_TRUE(front.isShown());

    ScreenCapturer capturer(std::make_shared<X11ContentSource>());
    X11Desktop desktop;
    RegionSelectionController controller(capturer, desktop, x11OverlayPanels());
    movePointer(front.client.center());
    controller.show(capturer.onScreenWindows(QCoreApplication::applicationPid()));
    const QFuture<std::optional<RegionSelection>> selection = controller.selection();
    XSession::current().xdotool({QStringLiteral("click"), QStringLiteral("1")});
    ASSERT_TRUE(waitFor(selection));
    ASSERT_EQ(selection.result(), RegionSelection::window(front.id));

    const QFuture<CaptureResult> capture = capturer.captureWindow(front.id);
    ASSERT_TRUE(waitFor(capture));
    const CaptureResult result = capture.result();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->kind, CaptureKind::window);
    ASSERT_EQ(result->image.size(), front.client.size());
    std::string why;
    EXPECT_TRUE(holds(result->image, QPoint(0, 0), front.pattern(), &why)) << why;
}

TEST(Capture, EscapeOnTheSecondDisplayClosesBothOverlays) {
    PatternWindow window(QStringLiteral("quillet-e2e-active"), QRect(300, 300, 300, 200), 7, true);
    XSession::current().xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(window.id)});
    ASSERT_EQ(activeWindow(), window.id);

    ScreenCapturer capturer(std::make_shared<X11ContentSource>());
    X11Desktop desktop;
    RegionSelectionController controller(capturer, desktop, x11OverlayPanels());
    movePointer(QPoint(400, 400));
    controller.show({});
    const QList<RegionSelectionView*> panels = controller.panels();
    ASSERT_EQ(panels.size(), 2);
    QList<std::uint32_t> panelIDs;
    for (RegionSelectionView* panel : panels) panelIDs << static_cast<std::uint32_t>(panel->winId());
    ASSERT_TRUE(XSession::waitUntil([&] { return xWindow(panelIDs[0]).viewable && xWindow(panelIDs[1]).viewable; }));

    movePointer(QPoint(1600, 400));
    const QFuture<std::optional<RegionSelection>> selection = controller.selection();
    XSession::current().xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    ASSERT_TRUE(waitFor(selection));
    EXPECT_EQ(selection.result(), std::nullopt);
    EXPECT_TRUE(controller.panels().isEmpty());
    EXPECT_TRUE(XSession::waitUntil([&] { return !xWindow(panelIDs[0]).viewable && !xWindow(panelIDs[1]).viewable; }));
    EXPECT_EQ(activeWindow(), window.id);
}

TEST(Capture, OverlayShowsEveryDisplayFrozenAndDimmed) {
    PatternWindow left(QStringLiteral("quillet-e2e-left"), QRect(100, 100, 300, 200), 8);
    PatternWindow across(QStringLiteral("quillet-e2e-across"), QRect(1180, 300, 200, 150), 9);
    PatternWindow right(QStringLiteral("quillet-e2e-right"), QRect(1600, 200, 300, 200), 10);
    ASSERT_TRUE(left.isShown() && across.isShown() && right.isShown());
    movePointer(QPoint(640, 600));  // over the bare desktop: no window highlighted

    ScreenCapturer capturer(std::make_shared<X11ContentSource>());
    X11Desktop desktop;
    RegionSelectionController controller(capturer, desktop, x11OverlayPanels());
    controller.show(capturer.onScreenWindows(QCoreApplication::applicationPid()));
    const QList<RegionSelectionView*> panels = controller.panels();
    ASSERT_EQ(panels.size(), 2);
    for (RegionSelectionView* panel : panels) {
        QScreen* screen = screenWithGeometry(panel->geometry());
        ASSERT_TRUE(screen);
        EXPECT_EQ(panel->displayID(), DisplayIdentity::displayID(screen));
    }

    // The window across the displays' seam is offered on both, clipped to each.
    const auto offered = [&](RegionSelectionView* panel, QRect display) {
        const QRectF clipped = QRectF(across.client).intersected(QRectF(display)).translated(-QPointF(display.topLeft()));
        const auto& frames = panel->windowFrames();
        return std::any_of(frames.begin(), frames.end(), [&](const RegionSelectionView::WindowFrame& frame) {
            return frame.id == across.id && frame.frame == clipped;
        });
    };
    RegionSelectionView* leftPanel = panels[0]->geometry() == leftDisplay ? panels[0] : panels[1];
    RegionSelectionView* rightPanel = leftPanel == panels[0] ? panels[1] : panels[0];
    EXPECT_TRUE(offered(leftPanel, leftDisplay));
    EXPECT_TRUE(offered(rightPanel, rightDisplay));

    // Both displays show their frozen pixels dimmed by 30 %.
    const auto dimmed = [](QRgb pixel, QColor seen) {
        const auto near = [](int a, double b) { return std::abs(a - b) <= 2.0; };
        return near(seen.red(), qRed(pixel) * 0.7) && near(seen.green(), qGreen(pixel) * 0.7) &&
               near(seen.blue(), qBlue(pixel) * 0.7);
    };
    QColor seenLeft, seenRight;
    const bool shown = XSession::waitUntil([&] {
        const QImage root = XSession::current().importRoot();
        if (root.isNull()) return false;
        seenLeft = root.pixelColor(left.client.center());
        seenRight = root.pixelColor(right.client.center());
        return dimmed(left.pixelAt(left.client.center()), seenLeft) && dimmed(right.pixelAt(right.client.center()), seenRight);
    });
    EXPECT_TRUE(shown) << seenLeft.name().toStdString() << " " << seenRight.name().toStdString();
    controller.finish(std::nullopt);
}
