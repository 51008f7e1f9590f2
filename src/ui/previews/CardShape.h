// The outline and background of a preview card. With a compositing manager the card is a
// translucent dark glass with round corners; without one, translucent pixels would show black,
// so it is opaque and square.
#pragma once

#include <QColor>
#include <QPainterPath>
#include <QRectF>

namespace quillet::CardShape {

QColor background(bool rounded);
QPainterPath path(const QRectF& card, bool rounded);

}  // namespace quillet::CardShape
