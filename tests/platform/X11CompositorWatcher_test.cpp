// The compositor watcher against a private X server: a stand-in compositor takes and drops
// the _NET_WM_CM_S0 selection the way a real one does, and the watcher follows. And the X11
// parts without a server.
#include "platform/x11/X11CompositorWatcher.h"
#include "platform/x11/XInputEventTap.h"

#include "e2e/harness/Xvfb.h"
#include "support/TestSupport.h"

#include <QSignalSpy>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

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

}  // namespace
}  // namespace quillet
