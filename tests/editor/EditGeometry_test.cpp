// Sizing rules, the arrow outline and the crop grips, against worked numbers.
#include "editor/CropFrame.h"
#include "editor/EditRenderer.h"

#include <QPainterPath>

#include <gtest/gtest.h>

#include <vector>

namespace quillet {
namespace {

using namespace EditRenderer;

std::vector<QPointF> outline(const QPainterPath& path) {
    std::vector<QPointF> points;
    for (int i = 0; i < path.elementCount(); ++i) points.emplace_back(path.elementAt(i).x, path.elementAt(i).y);
    return points;
}

void expectNear(QPointF actual, QPointF expected, const char* what) {
    EXPECT_NEAR(actual.x(), expected.x(), 1e-9) << what;
    EXPECT_NEAR(actual.y(), expected.y(), 1e-9) << what;
}

void expectRect(const QRectF& actual, const QRectF& expected) {
    EXPECT_DOUBLE_EQ(actual.x(), expected.x());
    EXPECT_DOUBLE_EQ(actual.y(), expected.y());
    EXPECT_DOUBLE_EQ(actual.width(), expected.width());
    EXPECT_DOUBLE_EQ(actual.height(), expected.height());
}

TEST(EditSizing, ThicknessesFollowTheLongerSideAboveTheirFloors) {
    // Below the floors: 1440 × 900 gives 8.64 for the arrow, floored to 9.
    EXPECT_DOUBLE_EQ(arrowThickness({1440, 900}), 9);
    EXPECT_DOUBLE_EQ(frameThickness({1440, 900}), 6);
    EXPECT_NEAR(highlightThickness({1440, 900}), 31.68, 1e-9);
    EXPECT_EQ(pixelationBlockSize({1440, 900}), 17);

    EXPECT_NEAR(arrowThickness({3024, 1964}), 18.144, 1e-9);
    EXPECT_NEAR(frameThickness({3024, 1964}), 10.8864, 1e-9);
    EXPECT_NEAR(highlightThickness({3024, 1964}), 66.528, 1e-9);
    EXPECT_EQ(pixelationBlockSize({3024, 1964}), 36);

    // A portrait image is measured by its height, and the floors hold for small images.
    EXPECT_DOUBLE_EQ(arrowThickness({800, 1000}), 9);
    EXPECT_DOUBLE_EQ(frameThickness({800, 1000}), 6);
    EXPECT_NEAR(highlightThickness({800, 1000}), 22, 1e-9);
    EXPECT_EQ(pixelationBlockSize({800, 1000}), 12);
    EXPECT_NEAR(frameThickness({4000, 3000}), 14.4, 1e-9);

    // 1375 × 0.012 = 16.5: halves round away from zero.
    EXPECT_EQ(pixelationBlockSize({1375, 10}), 17);
    EXPECT_NEAR(arrowOutlineWidth(10), 2.4, 1e-12);
}

TEST(EditSizing, FrameCornersAreHalfTheSmallerSideAtMostTwoPointTwoThicknesses) {
    EXPECT_DOUBLE_EQ(frameCornerRadius(QRectF(0, 0, 20, 6), 6), 3);
    EXPECT_NEAR(frameCornerRadius(QRectF(0, 0, 200, 100), 6), 13.2, 1e-12);
}

TEST(ArrowPath, HundredPixelArrowHasTheTaperedShaftAndSweptBackHead) {
    const std::vector<QPointF> points = outline(arrowPath({0, 0}, {100, 0}, 9));
    ASSERT_GE(points.size(), 7u);
    expectNear(points[0], {1.62, 1.26}, "tail, one side");
    expectNear(points[1], {67.6, 0.539 * 9}, "head base, one side");
    expectNear(points[2], {65.8, 15.3}, "barb");
    expectNear(points[3], {97.408, 0}, "tip");
    expectNear(points[4], {65.8, -15.3}, "other barb");
    expectNear(points[5], {67.6, -0.539 * 9}, "head base, other side");
    expectNear(points[6], {1.62, -1.26}, "tail, other side");
    // Closed back to the first point, nothing else.
    if (points.size() > 7) expectNear(points.back(), points.front(), "closing point");
}

TEST(ArrowPath, ShortArrowsGetAHeadOfHalfTheirLengthAndNoLengthGivesNothing) {
    const std::vector<QPointF> points = outline(arrowPath({0, 0}, {20, 0}, 9));
    ASSERT_GE(points.size(), 7u);
    expectNear(points[1], {10, 0.539 * 9}, "head base at half the length");
    expectNear(points[2], {8.2, 15.3}, "barb 0.2 t behind it");
    EXPECT_TRUE(arrowPath({5, 5}, {5, 5}, 9).isEmpty());

    // Direction matters, not just the axis: an arrow pointing up-left has its tip near the end.
    const std::vector<QPointF> upLeft = outline(arrowPath({100, 100}, {40, 20}, 9));
    expectNear(upLeft[3], QPointF(40, 20) + QPointF(60, 80) / 100 * (1.6 * 0.18 * 9), "tip of a slanted arrow");
}

TEST(CropFrameTest, HandlePositionsAndNearestGrip) {
    const QRectF rect(10, 20, 100, 50);
    expectNear(CropFrame::point(CropHandle::topLeft, rect), {10, 20}, "topLeft");
    expectNear(CropFrame::point(CropHandle::top, rect), {60, 20}, "top");
    expectNear(CropFrame::point(CropHandle::right, rect), {110, 45}, "right");
    expectNear(CropFrame::point(CropHandle::bottomLeft, rect), {10, 70}, "bottomLeft");

    EXPECT_EQ(CropFrame::handle({108, 68}, rect, 5), CropHandle::bottomRight);
    EXPECT_EQ(CropFrame::handle({60, 40}, rect, 9), std::nullopt);
    // Exactly between topLeft and top of a tiny rectangle: the earlier case wins.
    EXPECT_EQ(CropFrame::handle({0.5, 0}, QRectF(0, 0, 2, 2), 3), CropHandle::topLeft);
    // Nearest wins over case order when not tied.
    EXPECT_EQ(CropFrame::handle({0.9, 0}, QRectF(0, 0, 2, 2), 3), CropHandle::top);
}

TEST(CropFrameTest, ResizeNeverFlipsAndStaysInsideTheBounds) {
    const QRectF bounds(0, 0, 800, 600);
    // Dragging the left edge past the right one stops 8 pixels short of it.
    expectRect(CropFrame::resize(QRectF(100, 100, 200, 200), CropHandle::left, {500, 150}, bounds, 8),
               QRectF(292, 100, 8, 200));
    // A corner dragged outside the image lands on the image's corner.
    expectRect(CropFrame::resize(QRectF(100, 100, 200, 200), CropHandle::bottomRight, {5000, 9000}, bounds, 8),
               QRectF(100, 100, 700, 500));
    // Top-left dragged far down-right: both edges stop short, the opposite ones stay.
    expectRect(CropFrame::resize(QRectF(100, 100, 200, 200), CropHandle::topLeft, {700, 700}, bounds, 8),
               QRectF(292, 292, 8, 8));
    // An edge handle changes one coordinate only.
    expectRect(CropFrame::resize(QRectF(100, 100, 200, 200), CropHandle::top, {-50, 40}, bounds, 8),
               QRectF(100, 40, 200, 260));
}

TEST(CropFrameTest, MoveIsPushedBackInsideAndNewCropsSpanClampedPoints) {
    const QRectF bounds(0, 0, 800, 600);
    expectRect(CropFrame::move(QRectF(100, 100, 50, 50), {-1000, 0}, bounds), QRectF(0, 100, 50, 50));
    expectRect(CropFrame::move(QRectF(100, 100, 50, 50), {1000, 20}, bounds), QRectF(750, 120, 50, 50));
    // Wider than the bounds: starts at maxX − width.
    expectRect(CropFrame::move(QRectF(0, 0, 900, 50), {30, 0}, bounds), QRectF(-100, 0, 900, 50));

    expectRect(CropFrame::rect({100, 100}, {-50, 30}, bounds), QRectF(0, 30, 100, 70));
    expectRect(CropFrame::rect({700, 500}, {900, 700}, bounds), QRectF(700, 500, 100, 100));
}

TEST(WholePixelRect, ExtendsOutwardAndCutsToTheImage) {
    const QRect bounds(0, 0, 100, 80);
    EXPECT_EQ(wholePixelRect(QRectF(10.5, 10.5, 20, 20), bounds), QRect(10, 10, 21, 21));
    EXPECT_EQ(wholePixelRect(QRectF(90.2, 70.7, -50.1, 50.1), bounds), QRect(40, 70, 51, 10));
    EXPECT_EQ(wholePixelRect(QRectF(-30, -30, 20, 20), bounds), std::nullopt);
    EXPECT_EQ(wholePixelRect(QRectF(std::nan(""), 0, 10, 10), bounds), std::nullopt);
    EXPECT_EQ(wholePixelRect(QRectF(0, 0, 1e300, 1e300), bounds), QRect(0, 0, 100, 80));
}

}  // namespace
}  // namespace quillet
