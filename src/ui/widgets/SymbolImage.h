// The program's own small glyphs ("xmark", "pin", "pencil", "trash", "crop", ...), one SVG file
// per name in the resources, drawn at the size asked for and tinted at draw time. Buttons
// centre a glyph by its visible ink rather than by its box, so thin and heavy glyphs line up.
//
//   if (auto glyph = SymbolImage::render("pin", 11, ink, devicePixelRatioF()))
//       painter.drawImage(centre - glyph->ink.center(), glyph->image);
//
// Main thread only (renderings are cached).
#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QString>

#include <optional>

namespace quillet::SymbolImage {

struct Glyph {
    QImage image;  // `size` × `size` logical pixels, carrying its device pixel ratio
    QRectF ink;    // the glyph's visible ink (see visibleBounds), in logical pixels of `image`
};

bool exists(const QString& name);
// No value for a name without a glyph.
std::optional<Glyph> render(const QString& name, qreal size, const QColor& colour, qreal devicePixelRatio);
// The bounds of the pixels whose alpha is at least `minimumAlpha`, in logical pixels; empty for
// none.
QRectF inkBounds(const QImage& image, int minimumAlpha = 1);
// Where the glyph's ink lies in a `size` × `size` box (y downward), measured on a rendering at
// 8× with alpha of at least 17/255 counting as ink, so faint anti-aliasing fringes do not pull
// the centre. The whole box for a glyph without ink or a name without a glyph.
QRectF visibleBounds(const QString& name, qreal size);

}  // namespace quillet::SymbolImage
