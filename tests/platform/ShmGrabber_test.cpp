// Grabs through the shared segment against a private X server whose root window shows a pattern
// in which every pixel differs: a screen larger than the segment comes in bands, and a band put
// one row off, a short last band or a reused image of the wrong size would show.
#include "platform/x11/DisplayMap.h"
#include "platform/x11/ShmGrabber.h"
#include "platform/x11/X11Connection.h"

#include "e2e/harness/Xvfb.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace quillet {
namespace {

// 0xRRGGBB from the position: unique for x, y < 4096.
std::uint32_t patternAt(int x, int y) { return (std::uint32_t(y & 0xfff) << 12) | std::uint32_t(x & 0xfff); }

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
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
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

TEST(ShmGrabber, BandedGrabsAreWholeAndFollowNewSizes) {
    // 2000 pixels a row: 524 rows a band, so 1200 rows are two whole bands and a short one.
    const QSize root(2000, 1200);
    e2e::Xvfb server;
    ASSERT_TRUE(server.start(root));
    const QByteArray previous = qgetenv("DISPLAY");
    qputenv("DISPLAY", server.display().toUtf8());
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
    qputenv("DISPLAY", previous);
}

}  // namespace
}  // namespace quillet
