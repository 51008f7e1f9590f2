// The X11 parts against a private X server. A stand-in compositor takes and drops the
// _NET_WM_CM_S0 selection the way a real one does, and the watcher follows. Grabs through the
// shared segment of a root window showing a pattern in which every pixel differs: a screen larger
// than the segment comes in bands, and a band put one row off, a short last band or a reused
// image of the wrong size would show. The root's damage, and the X11 parts without a server.
#include "platform/x11/DisplayMap.h"
#include "platform/x11/RootDamage.h"
#include "platform/x11/ShmGrabber.h"
#include "platform/x11/X11CompositorWatcher.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/XInputEventTap.h"

#include "e2e/harness/Xvfb.h"
#include "support/TestSupport.h"

#include <QRegion>
#include <QSignalSpy>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace quillet {
namespace {

// What a compositing manager does to announce itself: a window of its own owning the
// selection _NET_WM_CM_S0.
class FakeCompositor {
public:
    explicit FakeCompositor(const QString& display) {
        connection = xcb_connect(display.toUtf8().constData(), nullptr);
        if (xcb_connection_has_error(connection)) return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        window = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        const char name[] = "_NET_WM_CM_S0";
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
        if (!atom) return;
        selection = atom->atom;
        std::free(atom);
        xcb_set_selection_owner(connection, window, selection, XCB_CURRENT_TIME);
        xcb_flush(connection);
    }
    ~FakeCompositor() { disconnect(); }

    bool holdsSelection() const { return connection && !xcb_connection_has_error(connection) && selection != XCB_NONE; }

    void releaseSelection() {
        xcb_set_selection_owner(connection, XCB_NONE, selection, XCB_CURRENT_TIME);
        xcb_flush(connection);
    }
    void destroyWindow() {
        xcb_destroy_window(connection, window);
        xcb_flush(connection);
    }
    void disconnect() {
        if (connection) xcb_disconnect(connection);
        connection = nullptr;
    }

private:
    xcb_connection_t* connection = nullptr;
    xcb_window_t window = XCB_NONE;
    xcb_atom_t selection = XCB_NONE;
};

class X11CompositorWatcherTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.start(QSize(320, 240))); }

    QByteArray display() const { return server.display().toUtf8(); }

    e2e::Xvfb server;
};

// The signals seen so far, in order.
QList<bool> signalled(const QSignalSpy& spy) {
    QList<bool> values;
    for (const QList<QVariant>& arguments : spy) values << arguments.at(0).toBool();
    return values;
}

// The compositor comes and goes however it goes; one that was there first is seen at once; when
// the X server goes away, nothing composites any more.
TEST_F(X11CompositorWatcherTest, FollowsTheCompositorAndTheServerGoneMeansNone) {
    X11CompositorWatcher watcher(display());
    EXPECT_FALSE(watcher.compositingManagerRunning());
    QSignalSpy changes(&watcher, &CompositorWatching::compositingChanged);
    const std::pair<const char*, void (*)(FakeCompositor&)> drops[] = {
        {"window destroyed", [](FakeCompositor& c) { c.destroyWindow(); }},
        {"client disconnected", [](FakeCompositor& c) { c.disconnect(); }},
        {"selection released", [](FakeCompositor& c) { c.releaseSelection(); }},
    };
    for (const auto& [name, drop] : drops) {
        SCOPED_TRACE(name);
        changes.clear();
        FakeCompositor compositor(server.display());
        ASSERT_TRUE(compositor.holdsSelection());
        ASSERT_TRUE(test::waitUntil([&] { return changes.size() == 1; }));
        EXPECT_TRUE(watcher.compositingManagerRunning());
        drop(compositor);
        ASSERT_TRUE(test::waitUntil([&] { return changes.size() == 2; }));
        EXPECT_EQ(signalled(changes), (QList<bool>{true, false}));
        EXPECT_FALSE(watcher.compositingManagerRunning());
    }

    FakeCompositor compositor(server.display());
    ASSERT_TRUE(compositor.holdsSelection());
    X11CompositorWatcher later(display());
    ASSERT_TRUE(later.compositingManagerRunning());
    QSignalSpy laterChanges(&later, &CompositorWatching::compositingChanged);
    server.stop();
    ASSERT_TRUE(test::waitUntil([&] { return laterChanges.size() == 1; }));
    EXPECT_EQ(signalled(laterChanges), QList<bool>{false});
    EXPECT_FALSE(later.compositingManagerRunning());
}

// Without an X server nothing composites, and the key tap is refused rather than pretending to
// listen.
TEST(X11WithoutServer, NoCompositorAndNoListenAccess) {
    EXPECT_FALSE(X11CompositorWatcher(QByteArrayLiteral(":65001")).compositingManagerRunning());
    XInputEventTap tap(QByteArrayLiteral(":65000"));
    EXPECT_FALSE(tap.preflightListenAccess());
    EXPECT_FALSE(tap.createTap(hotKeyEventMask, [](const TapEvent&) {}));
    EXPECT_EQ(tap.socketDescriptor(), -1);
}

// 0xRRGGBB from the position: unique for x, y < 4096.
std::uint32_t patternAt(int x, int y) { return (std::uint32_t(y & 0xfff) << 12) | std::uint32_t(x & 0xfff); }

void sync(xcb_connection_t* c) { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }

// Draws the pattern straight onto the root window (no window manager, no other window).
void paintRoot(QSize size) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, screen->root, 0, nullptr);
    const int rows = 100;
    std::vector<std::uint32_t> strip(std::size_t(size.width()) * rows);
    for (int y = 0; y < size.height(); y += rows) {
        const int count = std::min(rows, size.height() - y);
        for (int r = 0; r < count; ++r) {
            for (int x = 0; x < size.width(); ++x) strip[std::size_t(r) * size.width() + x] = patternAt(x, y + r);
        }
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, gc, std::uint16_t(size.width()), std::uint16_t(count),
                      0, std::int16_t(y), 0, screen->root_depth, std::uint32_t(size.width() * count * 4),
                      reinterpret_cast<const std::uint8_t*>(strip.data()));
    }
    xcb_free_gc(c, gc);
    sync(c);
    xcb_disconnect(c);
}

// The first pixel that differs from what the root shows at `area` (black outside the root), as
// text; empty when all match.
std::string firstMismatch(const QImage& image, const QRect& area, QSize root) {
    if (image.size() != area.size()) return "size " + std::to_string(image.width()) + "x" + std::to_string(image.height());
    for (int y = 0; y < area.height(); ++y) {
        for (int x = 0; x < area.width(); ++x) {
            const QPoint at = area.topLeft() + QPoint(x, y);
            const bool inside = QRect(QPoint(0, 0), root).contains(at);
            const std::uint32_t expected = 0xff000000u | (inside ? patternAt(at.x(), at.y()) : 0);
            if (image.pixel(x, y) != expected) return "pixel " + std::to_string(x) + "," + std::to_string(y);
        }
    }
    return {};
}

// A private server that this process's X11 parts talk to through DISPLAY.
class OwnServerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.start(root));
        qputenv("DISPLAY", server.display().toUtf8());
    }
    void TearDown() override { qputenv("DISPLAY", previous); }

    // 2000 pixels a row: 524 rows a band, so 1200 rows are two whole bands and a short one.
    const QSize root{2000, 1200};
    const QByteArray previous = qgetenv("DISPLAY");
    e2e::Xvfb server;
};

TEST_F(OwnServerTest, BandedGrabsAreWholeAndFollowNewSizes) {
    paintRoot(root);
    auto connection = std::make_shared<X11Connection>();
    ASSERT_TRUE(connection->isConnected());
    ASSERT_TRUE(connection->offersShm());
    ShmGrabber grabber(connection, std::make_shared<DisplayMap>(connection));

    const QList<QRect> areas = {
        QRect(QPoint(0, 0), root),     // the whole screen, in bands
        QRect(0, 0, 2000, 1200),       // again, into the image kept from the last grab
        QRect(1500, 700, 800, 700),    // partly off the screen
        QRect(17, 523, 1983, 3),       // across a band's edge
    };
    for (bool releaseFirst : {false, true}) {
        for (const QRect& area : areas) {
            if (releaseFirst) {
                EXPECT_TRUE(grabber.releaseBuffers());
            }
            const QList<QImage> images = grabber.grab({GrabArea{QRectF(area), area.size()}});
            ASSERT_EQ(images.size(), 1);
            EXPECT_EQ(firstMismatch(images.front(), area, root), "")
                << area.x() << "," << area.y() << " " << area.width() << "x" << area.height() << " release "
                << releaseFirst;
        }
    }
}

void fill(xcb_connection_t* c, xcb_window_t window, xcb_gcontext_t gc, xcb_rectangle_t inWindow) {
    xcb_poly_fill_rectangle(c, window, gc, 1, &inWindow);
    sync(c);
}

TEST_F(OwnServerTest, DamageIsCollectedWhereDrawnAfterForgetIncludingTheRepaintOfAWindowGone) {
    RootDamage damage(std::make_shared<X11Connection>());
    ASSERT_TRUE(damage.isAvailable());
    QRegion drawn;
    const auto covers = [&](QRect area) {
        return test::waitUntil([&] { return QRegion(area).subtracted(drawn += damage.collect()).isEmpty(); }, std::chrono::seconds(5));
    };
    // Another client's window at (100, 100), 200 x 150, that draws before and after forget().
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    const std::uint32_t attributes[] = {screen->white_pixel, 1};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 100, 100, 200, 150, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, attributes);
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, window, XCB_GC_FOREGROUND, &screen->black_pixel);
    xcb_map_window(c, window);
    fill(c, window, gc, {10, 10, 50, 40});

    damage.forget();
    fill(c, window, gc, {120, 90, 30, 20});
    EXPECT_TRUE(covers(QRect(220, 190, 30, 20))) << "drawing in a window not seen where the screen shows it";
    EXPECT_FALSE(drawn.intersects(QRect(110, 110, 50, 40))) << "drawing from before forget() collected";

    damage.forget();
    drawn = QRegion();
    xcb_unmap_window(c, window);
    sync(c);
    EXPECT_TRUE(covers(QRect(100, 100, 200, 150))) << "the repaint of the uncovered root not seen";
    xcb_disconnect(c);
}

}  // namespace
}  // namespace quillet
