// The crop rectangle's eight grips and the rules for dragging a crop out, moving it and
// resizing it by one grip. Pure geometry in source-image pixels; the canvas calls these while
// the user edits the crop, the document only ever sees the finished rectangle.
//
//   if (auto grip = CropFrame::handle(mouse, crop, 9 / scale))
//       crop = CropFrame::resize(crop, *grip, mouse, imageBounds, 8);
#pragma once

#include <QPointF>
#include <QRectF>

#include <array>
#include <optional>

namespace quillet {

// Case order is also the order in which handles are scanned and drawn.
enum class CropHandle { topLeft, top, topRight, right, bottomRight, bottom, bottomLeft, left };

inline constexpr std::array<CropHandle, 8> allCropHandles{
    CropHandle::topLeft,     CropHandle::top,    CropHandle::topRight,   CropHandle::right,
    CropHandle::bottomRight, CropHandle::bottom, CropHandle::bottomLeft, CropHandle::left};

namespace CropFrame {

// Where the handle sits on `rect`: a corner or the middle of an edge.
QPointF point(CropHandle handle, const QRectF& rect);

// The handle nearest to `point` among those at most `reach` away; ties go to the earlier case.
std::optional<CropHandle> handle(QPointF point, const QRectF& rect, double reach);

// The rectangle spanned by two points, each first clamped into `bounds`.
QRectF rect(QPointF from, QPointF to, const QRectF& bounds);

// `rect` offset by `delta` and pushed back inside `bounds` with its size unchanged.
QRectF move(const QRectF& rect, QPointF delta, const QRectF& bounds);

// `rect` after `handle` was dragged to `point` (clamped into `bounds`). The opposite edge stays
// put and the rectangle never flips: an edge stops `minimumSide` short of its opposite.
QRectF resize(const QRectF& rect, CropHandle handle, QPointF point, const QRectF& bounds, double minimumSide);

}  // namespace CropFrame
}  // namespace quillet
