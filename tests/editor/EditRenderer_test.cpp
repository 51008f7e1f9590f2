// The renderer's geometry against worked numbers, and its layers on real pixels.
#include "editor/CropFrame.h"
#include "editor/EditDocument.h"
#include "editor/EditRenderer.h"
#include "support/TestSupport.h"

#include <QPainter>
#include <QPainterPath>

#include <gtest/gtest.h>

#include <cstdlib>

namespace quillet {
namespace {

using namespace EditRenderer;

// Every pixel different: red = x, green = y.
QImage coordinates(int width, int height) {
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) picture.setPixel(x, y, qRgb(x % 256, y % 256, 77));
    }
    return picture;
}

// Even columns opaque in a colour that changes from cell to cell (cells of 12), odd columns
// black at a third of full alpha, so each 12- or 6-pixel-wide cell has the alpha-weighted
// colour (R, G, B) × 255 / 340 and alpha 2/3, while a plain mean would be much darker.
QRgb patternColour(int x, int y) { return qRgb(40 + 60 * (x / 12), 30 + 70 * (y / 12), 200); }

QImage pattern(int size) {
    QImage picture(size, size, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < size; ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < size; ++x) line[x] = x % 2 == 0 ? patternColour(x, y) : qRgba(0, 0, 0, 85);
    }
    return picture;
}

bool near(QRgb actual, QRgb expected, int tolerance) {
    return std::abs(qRed(actual) - qRed(expected)) <= tolerance &&
           std::abs(qGreen(actual) - qGreen(expected)) <= tolerance &&
           std::abs(qBlue(actual) - qBlue(expected)) <= tolerance &&
           std::abs(qAlpha(actual) - qAlpha(expected)) <= tolerance;
}

#define EXPECT_PIXEL(actual, expected, tolerance)                                                           \
    EXPECT_PRED3(near, actual, expected, tolerance) << std::hex << "actual " << (actual) << " expected " \
                                                    << (expected)

QImage draw(const QImage& source, const QList<EditArrow>& arrows, const QList<EditRectangle>& frames,
            const QList<EditStroke>& highlights, const QList<EditRectangle>& pixelations,
            const std::optional<QRectF>& crop = std::nullopt) {
    return render(source, arrows, frames, highlights, pixelations, crop)
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// The marker at 40 % multiplied onto an opaque grey of `level`.
QRgb markedGrey(int level) {
    const QColor& marker = highlightColor();
    const auto channel = [&](int c) { return int(std::lround(level * (0.6 + 0.4 * c / 255.0))); };
    return qRgb(channel(marker.red()), channel(marker.green()), channel(marker.blue()));
}

TEST(ArrowPath, ATaperedShaftToAHeadWhoseTipStopsAtTheEnd) {
    const QPainterPath arrow = arrowPath({0, 0}, {100, 0}, 9);
    EXPECT_TRUE(arrow.contains(QPointF(96, 0)));
    EXPECT_FALSE(arrow.contains(QPointF(99, 0)));    // the tip stops short of the end
    EXPECT_TRUE(arrow.contains(QPointF(70, 12)));    // a barb of the head
    EXPECT_FALSE(arrow.contains(QPointF(30, 5)));    // the shaft is much narrower
    // A short arrow's head takes half its length.
    EXPECT_TRUE(arrowPath({0, 0}, {20, 0}, 9).contains(QPointF(11, 10)));
    // Direction matters, not just the axis: the head is at the end, 70 along and 12 aside.
    const QPainterPath upLeft = arrowPath({100, 100}, {40, 20}, 9);
    EXPECT_TRUE(upLeft.contains(QPointF(67.6, 36.8)));
    EXPECT_FALSE(upLeft.contains(QPointF(91.6, 68.8)));  // 30 along
}

TEST(CropFrameTest, NearestGripResizeMoveAndNewCrops) {
    const QRectF rect(10, 20, 100, 50);
    EXPECT_EQ(CropFrame::handle({108, 68}, rect, 5), CropHandle::bottomRight);
    EXPECT_EQ(CropFrame::handle({60, 40}, rect, 9), std::nullopt);
    // Exactly between topLeft and top of a tiny rectangle the earlier case wins, else the nearest.
    EXPECT_EQ(CropFrame::handle({0.5, 0}, QRectF(0, 0, 2, 2), 3), CropHandle::topLeft);
    EXPECT_EQ(CropFrame::handle({0.9, 0}, QRectF(0, 0, 2, 2), 3), CropHandle::top);

    // A resize never flips (an edge stops 8 pixels short of the opposite one) and stays inside
    // the bounds; an edge handle changes one coordinate only.
    const QRectF bounds(0, 0, 800, 600), square(100, 100, 200, 200);
    EXPECT_EQ(CropFrame::resize(square, CropHandle::left, {500, 150}, bounds, 8), QRectF(292, 100, 8, 200));
    EXPECT_EQ(CropFrame::resize(square, CropHandle::bottomRight, {5000, 9000}, bounds, 8), QRectF(100, 100, 700, 500));
    EXPECT_EQ(CropFrame::resize(square, CropHandle::topLeft, {700, 700}, bounds, 8), QRectF(292, 292, 8, 8));
    EXPECT_EQ(CropFrame::resize(square, CropHandle::top, {-50, 40}, bounds, 8), QRectF(100, 40, 200, 260));

    // A move is pushed back inside; one wider than the bounds starts at maxX − width.
    EXPECT_EQ(CropFrame::move(QRectF(100, 100, 50, 50), {-1000, 0}, bounds), QRectF(0, 100, 50, 50));
    EXPECT_EQ(CropFrame::move(QRectF(100, 100, 50, 50), {1000, 20}, bounds), QRectF(750, 120, 50, 50));
    EXPECT_EQ(CropFrame::move(QRectF(0, 0, 900, 50), {30, 0}, bounds), QRectF(-100, 0, 900, 50));
    EXPECT_EQ(CropFrame::rect({100, 100}, {-50, 30}, bounds), QRectF(0, 30, 100, 70));
    EXPECT_EQ(CropFrame::rect({700, 500}, {900, 700}, bounds), QRectF(700, 500, 100, 100));
}

TEST(WholePixelRect, ExtendsOutwardAndCutsToTheImage) {
    const QRect bounds(0, 0, 100, 80);
    EXPECT_EQ(wholePixelRect(QRectF(10.5, 10.5, 20, 20), bounds), QRect(10, 10, 21, 21));
    EXPECT_EQ(wholePixelRect(QRectF(90.2, 70.7, -50.1, 50.1), bounds), QRect(40, 70, 51, 10));
    EXPECT_EQ(wholePixelRect(QRectF(-30, -30, 20, 20), bounds), std::nullopt);
    EXPECT_EQ(wholePixelRect(QRectF(std::nan(""), 0, 10, 10), bounds), std::nullopt);
    EXPECT_EQ(wholePixelRect(QRectF(0, 0, 1e300, 1e300), bounds), QRect(0, 0, 100, 80));
}

TEST(PixelationBlocks, CellsRowByRowWithAlphaWeightedMeans) {
    const QList<PixelationBlock> blocks = pixelationBlocks(pattern(30), QRectF(0, 0, 30, 30), 12);
    ASSERT_EQ(blocks.size(), 9);
    const int edges[] = {0, 12, 24, 30};
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            const PixelationBlock& block = blocks[row * 3 + column];
            SCOPED_TRACE(testing::Message() << "cell " << row << "," << column);
            EXPECT_EQ(block.rect, QRectF(edges[column], edges[row], edges[column + 1] - edges[column],
                                         edges[row + 1] - edges[row]));
            const QRgb expected = patternColour(edges[column], edges[row]);
            EXPECT_NEAR(block.color.redF(), qRed(expected) / 340.0, 1e-4);
            EXPECT_NEAR(block.color.greenF(), qGreen(expected) / 340.0, 1e-4);
            EXPECT_NEAR(block.color.blueF(), qBlue(expected) / 340.0, 1e-4);
            EXPECT_NEAR(block.color.alphaF(), 2.0 / 3.0, 1e-4);
        }
    }

    // The same pixels in another memory layout give the same cells.
    const QList<PixelationBlock> converted =
        pixelationBlocks(pattern(30).convertToFormat(QImage::Format_RGBA8888_Premultiplied), QRectF(0, 0, 30, 30), 12);
    ASSERT_EQ(converted.size(), 9);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(converted[i].color.rgba64(), blocks[i].color.rgba64()) << i;
}

TEST(PixelationBlocks, GridIsAnchoredAtTheAreaEvenOutsideTheImage) {
    const QImage source = test::filledImage(100, 100, Qt::white);
    // Grid lines at -5, 7, 19 (and 31): cells of 7, 12 and 6 pixels inside the image.
    const QList<PixelationBlock> blocks = pixelationBlocks(source, QRectF(-5, -5, 30, 30), 12);
    ASSERT_EQ(blocks.size(), 9);
    EXPECT_EQ(blocks[0].rect, QRectF(0, 0, 7, 7));
    EXPECT_EQ(blocks[1].rect, QRectF(7, 0, 12, 7));
    EXPECT_EQ(blocks[2].rect, QRectF(19, 0, 6, 7));
    EXPECT_EQ(blocks[8].rect, QRectF(19, 19, 6, 6));

    // Fractional areas are extended to whole pixels first; a block size is rounded, and the one
    // for a picture follows its longer side, halves away from zero (16.5 → 17).
    EXPECT_EQ(pixelationBlockSize({800, 1000}), 12);  // a portrait picture is measured by its height
    EXPECT_EQ(pixelationBlockSize({1375, 10}), 17);
    const QList<PixelationBlock> rounded = pixelationBlocks(source, QRectF(10.5, 10.5, 19.2, 9), 12.4);
    ASSERT_EQ(rounded.size(), 2);
    EXPECT_EQ(rounded[0].rect, QRectF(10, 10, 12, 10));
    EXPECT_EQ(rounded[1].rect, QRectF(22, 10, 8, 10));

    EXPECT_TRUE(pixelationBlocks(source, QRectF(200, 200, 30, 30), 12).isEmpty());
    // A far-away anchor must neither hang nor overflow: 10^15 = 12 k + 4, so a grid line
    // falls at -4 and the first cell inside is 8 wide.
    const QList<PixelationBlock> far = pixelationBlocks(source, QRectF(-1e15, 0, 1e15 + 50, 20), 12);
    ASSERT_EQ(far.size(), 5 * 2);
    EXPECT_EQ(far[0].rect, QRectF(0, 0, 8, 12));
    EXPECT_EQ(far[4].rect, QRectF(44, 0, 6, 12));
}

TEST(PixelationBlocks, TransparentCellStaysTransparentWhenDrawn) {
    QImage source(40, 20, QImage::Format_ARGB32_Premultiplied);
    source.fill(Qt::transparent);
    QPainter(&source).fillRect(QRect(20, 0, 20, 20), QColor(0, 128, 255));
    const QList<PixelationBlock> blocks = pixelationBlocks(source, QRectF(0, 0, 40, 20), 20);
    ASSERT_EQ(blocks.size(), 2);
    EXPECT_EQ(blocks[0].color.rgba64(), QRgba64::fromRgba64(0));
    EXPECT_NEAR(blocks[1].color.greenF(), 128 / 255.0, 1e-4);

    // Drawn over something opaque, a transparent cell replaces it rather than blending.
    QImage canvas = test::filledImage(40, 20, Qt::red).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&canvas);
        drawPixelation(blocks, painter);
    }
    EXPECT_EQ(canvas.pixel(5, 5), 0u);
    EXPECT_EQ(canvas.pixel(30, 5), qRgb(0, 128, 255));
}

TEST(Render, PixelatedAreaIsFilledWithoutSpilling) {
    const QImage source = pattern(100).convertToFormat(QImage::Format_RGB32);  // opaque from here on
    const QImage result = draw(source, {}, {}, {}, {{QUuid::createUuid(), QRectF(10, 10, 30, 30)}});
    EXPECT_EQ(result.pixel(10, 10), result.pixel(21, 21)) << "one cell, one colour";
    EXPECT_NE(result.pixel(10, 10), source.pixel(10, 10));
    for (QPoint outside : {QPoint(9, 9), QPoint(40, 40), QPoint(40, 10), QPoint(25, 9)})
        EXPECT_EQ(result.pixel(outside), source.pixel(outside)) << outside.x() << "," << outside.y();
}

TEST(Render, CropIsWholePixelsAndCutsEverythingOutside) {
    const QImage source = coordinates(200, 200);
    const QImage cropped = draw(source, {}, {}, {}, {}, QRectF(10.5, 10.5, 20, 20));
    ASSERT_EQ(cropped.size(), QSize(21, 21));
    EXPECT_EQ(cropped.pixel(0, 0), qRgb(10, 10, 77));
    EXPECT_EQ(cropped.pixel(20, 20), qRgb(30, 30, 77));

    // Annotations entirely outside the crop leave no trace in it, shadow and halo included.
    const QRectF crop(100, 100, 80, 80);
    const QImage untouched = draw(source, {{QUuid::createUuid(), {10, 10}, {60, 60}}},
                                  {{QUuid::createUuid(), QRectF(10, 120, 60, 40)}},
                                  {{QUuid::createUuid(), {{120, 20}, {170, 40}}}}, {}, crop);
    EXPECT_EQ(untouched, source.copy(crop.toRect()).convertToFormat(QImage::Format_ARGB32_Premultiplied));

    // One crossing into the crop shows up at the right place.
    const QImage crossing = draw(source, {{QUuid::createUuid(), {20, 140}, {150, 140}}}, {}, {}, {}, crop);
    ASSERT_EQ(crossing.size(), QSize(80, 80));
    EXPECT_PIXEL(crossing.pixel(30, 40), arrowColor().rgb(), 1);

    // A crop that leaves nothing of the image hands back the source.
    EXPECT_EQ(render(source, {}, {}, {}, {}, QRectF(300, 300, 50, 50)).constBits(), source.constBits());
}

TEST(Render, ArrowTipIsRedWithAWhiteHaloAndAShadowBelow) {
    const QImage source = test::filledImage(400, 300, QColor(128, 128, 128));  // t = 9
    const QImage result = draw(source, {{QUuid::createUuid(), {50, 100}, {250, 100}}}, {}, {}, {});

    EXPECT_PIXEL(result.pixel(245, 99), arrowColor().rgb(), 1);   // inside the head, near the tip
    EXPECT_PIXEL(result.pixel(250, 99), qRgb(255, 255, 255), 1);  // past the red: halo
    EXPECT_PIXEL(result.pixel(150, 100), arrowColor().rgb(), 1);  // the shaft

    // The shadow falls downward: darker below the halo than above it.
    const int below = qGray(result.pixel(150, 110));
    const int above = qGray(result.pixel(150, 89));
    EXPECT_LT(below, above - 5);
    EXPECT_GE(above, 124);
    EXPECT_EQ(result.pixel(150, 140), source.pixel(150, 140));  // far away: untouched

    // An arrow from a point to itself draws nothing.
    EXPECT_EQ(draw(source, {{QUuid::createUuid(), {50, 50}, {50, 50}}}, {}, {}, {}),
              source.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

TEST(Render, CrossingMarkerStrokesAreNoDarkerThanOneStroke) {
    const QImage source = test::filledImage(200, 200, QColor(200, 200, 200));  // marker thickness 18
    const QList<EditStroke> strokes{
        {QUuid::createUuid(), {{20, 100}, {180, 100}}},
        {QUuid::createUuid(), {{100, 20}, {100, 180}}},
        {QUuid::createUuid(), {{20, 20}, {60, 60}, {60, 20}, {20, 60}}},  // crosses itself
        {QUuid::createUuid(), {{150, 150}}},                              // one point: not drawn
    };
    const QImage result = draw(source, {}, {}, strokes, {});
    const QRgb marked = markedGrey(200);
    EXPECT_PIXEL(result.pixel(50, 100), marked, 1);  // one stroke
    EXPECT_PIXEL(result.pixel(100, 100), marked, 1);  // two strokes crossing
    EXPECT_PIXEL(result.pixel(40, 40), marked, 1);    // a stroke crossing itself
    EXPECT_PIXEL(result.pixel(57, 25), marked, 1);    // where it turns back over itself
    EXPECT_EQ(result.pixel(150, 150), source.pixel(150, 150));
    EXPECT_EQ(result.pixel(50, 111), source.pixel(50, 111));  // just beyond the stroke's edge
}

// Over a translucent picture the marker is what a painter's multiply layer at 40 % gives: where
// the picture lets the background through, the marker covers it.
TEST(Render, MarkerOverATranslucentPictureAsAMultiplyLayer) {
    for (const int alpha : {0, 128}) {
        QImage source(200, 200, QImage::Format_ARGB32_Premultiplied);
        source.fill(QColor(200, 200, 200, alpha));
        QImage expected = source.copy();
        {
            QPainter painter(&expected);
            painter.setCompositionMode(QPainter::CompositionMode_Multiply);
            painter.setOpacity(0.4);
            painter.fillRect(expected.rect(), highlightColor());
        }
        const QImage result = draw(source, {}, {}, {{QUuid::createUuid(), {{20, 100}, {180, 100}}}}, {});
        EXPECT_PIXEL(result.pixel(100, 100), expected.pixel(100, 100), 1) << "alpha " << alpha;
    }
}

TEST(Render, LayersStackPixelationMarkerFramesArrows) {
    const QImage source = test::filledImage(300, 200, QColor(200, 200, 200));
    const QRectF area(20, 20, 120, 120);
    const QImage result = draw(source, {{QUuid::createUuid(), {150, 30}, {150, 190}}},
                               {{QUuid::createUuid(), QRectF(100, 30, 100, 100)}},
                               {{QUuid::createUuid(), {{10, 60}, {290, 60}}}}, {{QUuid::createUuid(), area}});
    // Over the mosaic of a flat grey the marker looks as over the grey itself.
    EXPECT_PIXEL(result.pixel(50, 60), markedGrey(200), 1);
    // The frame's line covers the marker.
    EXPECT_PIXEL(result.pixel(100, 60), arrowColor().rgb(), 1);
    // The arrow lies over the frame: its halo is white where it crosses the frame's bottom line.
    EXPECT_PIXEL(result.pixel(150, 130), arrowColor().rgb(), 1);
    EXPECT_PIXEL(result.pixel(143, 131), qRgb(255, 255, 255), 1);
    // The frame is stroked, not filled.
    EXPECT_EQ(result.pixel(120, 100), source.pixel(120, 100));
}

// The canvas draws through a painter on a high-density surface: the same look in device
// pixels, with the shadow and marker layers lined up on them.
TEST(Render, DrawingOnAHighDensitySurfaceLinesUpWithItsPixels) {
    QImage screen(400, 400, QImage::Format_ARGB32_Premultiplied);
    screen.fill(QColor(200, 200, 200));
    screen.setDevicePixelRatio(2);
    {
        QPainter painter(&screen);
        drawHighlights({{{20, 100}, {180, 100}}, {{100, 20}, {100, 180}}}, 18, painter);
        drawArrow({20, 150}, {180, 150}, 9, painter);
    }
    const QRgb marked = markedGrey(200);
    EXPECT_PIXEL(screen.pixel(100, 200), marked, 2);
    EXPECT_PIXEL(screen.pixel(200, 200), marked, 2);  // crossing
    EXPECT_PIXEL(screen.pixel(100, 216), marked, 2);  // 8 logical pixels off the line
    EXPECT_EQ(screen.pixel(100, 222), qRgb(200, 200, 200));  // 11 logical pixels off the line

    EXPECT_PIXEL(screen.pixel(200, 300), arrowColor().rgb(), 1);
    EXPECT_PIXEL(screen.pixel(359, 299), qRgb(255, 255, 255), 1);  // beyond the tip, logical 179.5
    EXPECT_LT(qGray(screen.pixel(200, 320)), qGray(screen.pixel(200, 280)) - 5);  // shadow below
}

}  // namespace
}  // namespace quillet
