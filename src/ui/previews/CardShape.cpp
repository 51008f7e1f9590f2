#include "ui/previews/CardShape.h"

namespace quillet::CardShape {

namespace {

constexpr qreal cornerRadius = 10;

}  // namespace

QColor background(bool rounded) { return rounded ? QColor(28, 28, 30, 215) : QColor(44, 44, 46); }

QPainterPath path(const QRectF& card, bool rounded) {
    QPainterPath result;
    if (rounded) {
        result.addRoundedRect(card, cornerRadius, cornerRadius);
    } else {
        result.addRect(card);
    }
    return result;
}

}  // namespace quillet::CardShape
