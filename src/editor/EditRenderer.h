// Draws the editor's annotations. The canvas uses the single-annotation functions to show
// them on screen and `render` bakes them into a new image for saving and copying, so both
// look alike: pixelated areas at the bottom, then the highlighter, frames, and arrows on top,
// all cut to the crop. Sizes come from the whole source image (see the thickness rules).
//
//   QImage result = EditRenderer::render(source, arrows, frames, highlights, pixelations, crop);
//   // no annotations and no effective crop: `result` is `source` itself, not a copy
//
// Every function is stateless and safe to call from any thread; the editor calls them on the
// main thread. Nothing here fails visibly: a resource that cannot be had gives back the
// source (render) or no cells (pixelationBlocks).
#pragma once

#include "editor/EditArrow.h"
#include "editor/EditShapes.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QPainterPath>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>

#include <optional>

class QPainter;

namespace quillet {

// One cell of a pixelated area: a whole-pixel square (smaller at the area's edges) and the
// alpha-weighted mean colour of the source pixels under it.
struct PixelationBlock {
    QRectF rect;
    QColor color;
};

namespace EditRenderer {

// Red of arrows and frames, and the marker yellow. Created once and kept.
const QColor& arrowColor();
const QColor& highlightColor();

// Sizing rules in image pixels; `imageSize` is always the whole source image, crop or not.
double arrowThickness(QSize imageSize);       // max(0.006 L, 9), L = the longer side
double frameThickness(QSize imageSize);       // max(0.6 × arrow thickness, 6)
double highlightThickness(QSize imageSize);   // max(0.022 L, 18)
int pixelationBlockSize(QSize imageSize);     // max(round(0.012 L), 12)
double arrowOutlineWidth(double thickness);   // the white halo beyond the red: 0.24 t
double frameOutlineWidth(double thickness);   // 0.24 t as well
// The frame's corner radius: half its smaller side, at most 2.2 t.
double frameCornerRadius(const QRectF& rect, double thickness);

// `rect` standardised, extended outward to whole pixels and cut to `bounds`; nothing when
// that leaves less than one pixel either way. Non-finite input gives nothing as well.
std::optional<QRect> wholePixelRect(const QRectF& rect, const QRect& bounds);

// The closed outline of an arrow from `from` to the tip at `to` (a tapered shaft and a
// swept-back head); empty when the two points coincide. Drawing fills and strokes it with
// round joins 0.36 t wide, so the painted arrow's tail reaches `from`.
QPainterPath arrowPath(QPointF from, QPointF to, double thickness);

// The single-annotation drawing functions paint in the painter's current coordinates; the
// thickness is given in those coordinates too (the canvas passes image thickness × scale).
// Arrows and frames get a white halo with a soft drop shadow beneath.
void drawArrow(QPointF from, QPointF to, double thickness, QPainter& painter);
void drawFrame(const QRectF& rect, double thickness, QPainter& painter);
// All strokes go into one layer that is multiplied onto the picture at 40 % once, so where
// strokes cross or overlap the marker is no darker than elsewhere. Strokes of fewer than two
// points are skipped.
void drawHighlights(const QList<QList<QPointF>>& strokes, double thickness, QPainter& painter);
// Fills the cells exactly, without anti-aliasing, replacing what lies beneath (alpha too).
void drawPixelation(const QList<PixelationBlock>& blocks, QPainter& painter);

// The cells of one pixelated area, row by row, left to right. The grid is anchored at the
// area's own top-left corner (after extending it to whole pixels) even when that lies outside
// the image; cells are cut to the area and to the image. `blockSize` is rounded to whole
// pixels (at least 1). Colours are the alpha-weighted means of the source pixels and the mean
// alpha, in the source image's own colour space (sRGB for screen grabs).
QList<PixelationBlock> pixelationBlocks(const QImage& source, const QRectF& area, double blockSize);

// The finished picture: the source (cut to the crop extended to whole pixels) with every
// annotation drawn in the fixed layer order. Returns `source` itself when nothing would
// change, and also when the crop leaves nothing or memory runs out.
QImage render(const QImage& source, const QList<EditArrow>& arrows, const QList<EditRectangle>& frames,
              const QList<EditStroke>& highlights, const QList<EditRectangle>& pixelations,
              const std::optional<QRectF>& crop);

}  // namespace EditRenderer
}  // namespace quillet
