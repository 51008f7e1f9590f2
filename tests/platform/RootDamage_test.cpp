// The damage on the root window against a private X server: what another client draws after
// forget() is collected at its place on the screen and what it drew before is not, and a window
// going away shows as the server's repaint of what it uncovered, the moment a withdrawal awaits.
#include "platform/x11/RootDamage.h"
#include "platform/x11/X11Connection.h"

#include "e2e/harness/Xvfb.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>

namespace quillet {
namespace {

void sync(xcb_connection_t* c) { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }

void fill(xcb_connection_t* c, xcb_window_t window, xcb_gcontext_t gc, xcb_rectangle_t inWindow) {
    xcb_poly_fill_rectangle(c, window, gc, 1, &inWindow);
    sync(c);
}

TEST(RootDamage, CollectsWhatIsDrawnAfterForgetAtItsPlaceOnTheScreenAndTheRepaintOfAWindowGone) {
    e2e::Xvfb server;
    ASSERT_TRUE(server.start(QSize(640, 480)));
    const QByteArray previous = qgetenv("DISPLAY");
    qputenv("DISPLAY", server.display().toUtf8());
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
    qputenv("DISPLAY", previous);
}

}  // namespace
}  // namespace quillet
