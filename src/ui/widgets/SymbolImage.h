// The program's own small glyphs ("xmark", "pin", "pin.fill", "pencil", "folder"), one SVG file
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
    QRectF ink;    // the visible pixels' bounds, in logical pixels of `image`
};

bool exists(const QString& name);
// No value for a name without a glyph.
std::optional<Glyph> render(const QString& name, qreal size, const QColor& colour, qreal devicePixelRatio);
// The bounds of the pixels that are not fully transparent, in logical pixels; empty for none.
QRectF inkBounds(const QImage& image);

}  // namespace quillet::SymbolImage
