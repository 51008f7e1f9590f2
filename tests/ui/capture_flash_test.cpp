// The flash covers exactly the captured area, lets clicks through, and removes itself.
#include "ui/overlay/CaptureFlash.h"

#include "fakes/FakeDesktopServices.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quillet;

TEST(CaptureFlash, FadesOverExactlyTheAreaAndGoesAway) {
    CaptureFlash flash(fakes::FakeWindowStyling().overlayFlags(), [] { return true; });
    flash.show(QRectF(10, 20, 300, 200));
    ASSERT_EQ(flash.windows().size(), 1);
    QWidget* window = flash.windows().front();
    EXPECT_EQ(window->geometry(), QRect(10, 20, 300, 200));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(window->mask().isEmpty());

    // Overlapping flashes are separate windows; an empty area shows none.
    flash.show(QRectF(0, 0, 3000, 100));
    flash.show(QRectF(5, 5, 0, 10));
    EXPECT_EQ(flash.windows().size(), 2);
    EXPECT_TRUE(test::waitUntil([&] { return flash.windows().isEmpty(); }, std::chrono::seconds(2)));
}
