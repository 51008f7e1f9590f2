// Sizing rules, the arrow outline and the crop grips, against worked numbers.
#include "editor/CropFrame.h"
#include "editor/EditRenderer.h"

#include <QPainterPath>

#include <gtest/gtest.h>

#include <vector>

namespace quillet {
namespace {

using namespace EditRenderer;

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
    const struct {
        QSize size;
        double arrow, frame, highlight;
        int block;
    } rows[] = {
        {{1440, 900}, 9, 6, 31.68, 17},               // arrow and frame at their floors
        {{3024, 1964}, 18.144, 10.8864, 66.528, 36},
        {{800, 1000}, 9, 6, 22, 12},                  // portrait: measured by its height
        {{1375, 10}, 9, 6, 30.25, 17},                // 16.5 pixels: halves round away from zero
    };
    for (const auto& row : rows) {
        EXPECT_NEAR(arrowThickness(row.size), row.arrow, 1e-9) << row.size.width();
        EXPECT_NEAR(frameThickness(row.size), row.frame, 1e-9) << row.size.width();
        EXPECT_NEAR(highlightThickness(row.size), row.highlight, 1e-9) << row.size.width();
        EXPECT_EQ(pixelationBlockSize(row.size), row.block) << row.size.width();
    }
}

TEST(EditSizing, FrameCornersAreHalfTheSmallerSideAtMostTwoPointTwoThicknesses) {
    EXPECT_DOUBLE_EQ(frameCornerRadius(QRectF(0, 0, 20, 6), 6), 3);
    EXPECT_NEAR(frameCornerRadius(QRectF(0, 0, 200, 100), 6), 13.2, 1e-12);
}

TEST(ArrowPath, ATaperedShaftToAHeadWhoseTipStopsAtTheEnd) {
    const QPainterPath arrow = arrowPath({0, 0}, {100, 0}, 9);
    EXPECT_TRUE(arrow.contains(QPointF(96, 0)));
    EXPECT_FALSE(arrow.contains(QPointF(99, 0)));    // the tip stops short of the end
    EXPECT_TRUE(arrow.contains(QPointF(70, 12)));    // a barb of the head
    EXPECT_FALSE(arrow.contains(QPointF(30, 5)));    // the shaft is much narrower
    EXPECT_TRUE(arrow.contains(QPointF(60, 3.5)));   // and widens towards the head
    EXPECT_FALSE(arrow.contains(QPointF(5, 3.5)));
    // A short arrow's head takes half its length; an arrow of no length is nothing.
    const QPainterPath shortArrow = arrowPath({0, 0}, {20, 0}, 9);
    EXPECT_TRUE(shortArrow.contains(QPointF(11, 10)));
    EXPECT_FALSE(shortArrow.contains(QPointF(5, 3)));
    EXPECT_TRUE(arrowPath({5, 5}, {5, 5}, 9).isEmpty());
    // Direction matters, not just the axis: the head is at the end, 70 along and 12 aside.
    const QPainterPath upLeft = arrowPath({100, 100}, {40, 20}, 9);
    EXPECT_TRUE(upLeft.contains(QPointF(67.6, 36.8)));
    EXPECT_FALSE(upLeft.contains(QPointF(91.6, 68.8)));  // 30 along
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
