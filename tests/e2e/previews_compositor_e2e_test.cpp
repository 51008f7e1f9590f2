// Previews on a desktop with a compositing manager (picom): the card is translucent glass with
// round corners, so what lies beneath shows through its corners and, dimmed, through the card.
#include "ui/previews/PreviewPanel.h"
#include "ui/previews/PreviewStack.h"
#include "e2e/harness/XSession.h"
#include "e2e/harness/X11Parts.h"
#include "e2e/harness/XWindows.h"
#include "platform/x11/DisplayIdentity.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

using namespace quillet;
using namespace std::chrono_literals;
using namespace quillet::e2e;

QUILLET_E2E_SESSION({.monitors = {QRect(0, 0, 1280, 800)}, .compositor = true, .trayHost = false});

namespace {

bool reddish(QColor colour) { return colour.red() > colour.green() + 20 && colour.red() > colour.blue() + 20; }
bool greyish(QColor colour) { return std::abs(colour.red() - colour.green()) < 12 && std::abs(colour.red() - colour.blue()) < 12; }

}  // namespace

TEST(PreviewsWithCompositor, CardIsTranslucentWithRoundCorners) {
    QTemporaryDir temp;
    PlainClipboard clipboard;
    test::X11Parts x11;
    PreviewStack stack(clipboard, x11.previewDesktop(), temp.path() + QStringLiteral("/drag"));
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen->availableGeometry();
    const QRect place(area.left() + 20, area.bottom() + 1 - 20 - 150, 210, 150);
    FlatWindow backdrop(place.adjusted(-30, -30, 30, 30), Qt::white);
    backdrop.show();

    QImage picture(800, 500, QImage::Format_ARGB32);
    picture.fill(QColor(30, 140, 220));
    const CapturedImage image{picture, DisplayIdentity::displayID(screen), CaptureKind::region};
    const QUuid id = stack.show(image, PNGFuture(picture));
    ASSERT_TRUE(stack.panel(id));
    EXPECT_TRUE(stack.panel(id)->hasRoundedCard());
    EXPECT_EQ(stack.panel(id)->pos(), place.topLeft());

    auto& x = XSession::current();
    const QPoint corner = place.topLeft() + QPoint(1, 1);
    const QPoint strip = place.topLeft() + QPoint(100, 3);  // the card above the picture
    const QPoint middle = place.center();                    // the picture itself

    // On white, the card is a neutral dark grey; on red, red shows through it and its corner.
    QImage grab;
    ASSERT_TRUE(XSession::waitUntil([&] {
        grab = x.importRoot();
        const QColor card = grab.pixelColor(strip);
        return !grab.isNull() && greyish(card) && card.red() < 140 && grab.pixelColor(middle) == QColor(30, 140, 220);
    })) << grab.pixelColor(strip).name().toStdString();

    backdrop.setColour(Qt::red);
    const bool throughCard = XSession::waitUntil([&] {
        grab = x.importRoot();
        // The picture stays opaque; a compositor may take a frame or two to settle on all three.
        return !grab.isNull() && reddish(grab.pixelColor(strip)) && reddish(grab.pixelColor(corner)) &&
               grab.pixelColor(middle) == QColor(30, 140, 220);
    });
    EXPECT_TRUE(throughCard) << "card " << grab.pixelColor(strip).name().toStdString() << ", corner "
                             << grab.pixelColor(corner).name().toStdString();
    // The card dims what is beneath it; the corner outside the rounding does not.
    EXPECT_LT(grab.pixelColor(strip).red(), grab.pixelColor(corner).red());
    EXPECT_EQ(grab.pixelColor(middle), QColor(30, 140, 220));
}
