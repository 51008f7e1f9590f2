// The look shared by the small floating buttons of the preview card and the editor's toolbar:
// a light fill, dark ink, and fonts sized in logical pixels.
#pragma once

#include <QColor>
#include <QFont>

namespace quillet::ButtonStyle {

QColor fill();
QColor ink();
// Sizes are given in logical pixels ("points"); Qt's fonts want typographic points.
QFont font(qreal pixelSize, QFont::Weight weight);

}  // namespace quillet::ButtonStyle
