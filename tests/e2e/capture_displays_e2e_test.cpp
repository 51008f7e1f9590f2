// The capturer follows the displays: after RandR splits the screen into two displays, the next
// capture fetches them anew instead of using the displays it had cached.
#include "capture/ScreenCapturer.h"
#include "e2e/harness/XSession.h"
#include "platform/x11/DisplayIdentity.h"
#include "platform/x11/X11ContentSource.h"

#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

using namespace quillet;
using quillet::e2e::XSession;

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1600, 900)}, .trayHost = false});

namespace {

CaptureResult capture(QFuture<CaptureResult> future) {
    EXPECT_TRUE(XSession::waitUntil([&] { return future.isFinished(); }));
    return future.result();
}

}  // namespace

TEST(CaptureDisplays, ACaptureAfterTheDisplaysChangedSeesTheNewOnes) {
    auto source = std::make_shared<X11ContentSource>();
    ScreenCapturer capturer(source);
    const std::uint32_t wholeScreen = DisplayIdentity::displayID(QGuiApplication::primaryScreen());
    const CaptureResult before = capture(capturer.captureFullScreen(QPointF(1200, 450)));
    ASSERT_TRUE(before);
    EXPECT_EQ(before->image.size(), QSize(1600, 900));
    EXPECT_EQ(before->screenID, wholeScreen);

    auto& session = XSession::current();
    ASSERT_TRUE(session.run(QStringLiteral("xrandr"), {QStringLiteral("--setmonitor"), QStringLiteral("SPLIT-0"),
                                                       QStringLiteral("600/159x900/238+0+0"), QStringLiteral("screen")})
                    .ok());
    ASSERT_TRUE(session.run(QStringLiteral("xrandr"), {QStringLiteral("--setmonitor"), QStringLiteral("SPLIT-1"),
                                                       QStringLiteral("1000/265x900/238+600+0"), QStringLiteral("none")})
                    .ok());
    ASSERT_TRUE(XSession::waitUntil([] { return QGuiApplication::screens().size() == 2; }));
    QScreen* right = QGuiApplication::screenAt(QPoint(1200, 450));
    ASSERT_TRUE(right);
    // The displays reach the source through the main thread's screen signals.
    ASSERT_TRUE(XSession::waitUntil([&] { return source->displays().size() == 2; }));

    const CaptureResult after = capture(capturer.captureFullScreen(QPointF(1200, 450)));
    ASSERT_TRUE(after);
    EXPECT_EQ(after->image.size(), QSize(1000, 900));
    EXPECT_EQ(after->screenID, DisplayIdentity::displayID(right));

    const CaptureResult gone = capture(capturer.captureRegion(QRectF(0, 0, 10, 10), wholeScreen));
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error(), CaptureError::displayNotFound);
}
