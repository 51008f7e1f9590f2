#include "ui/previews/HoverOverlayView.h"

#include "ui/previews/CardShape.h"

#include <QPainter>

namespace quillet {

HoverOverlayView::HoverOverlayView(bool roundedCard, QWidget* parent) : QWidget(parent), roundedCard(roundedCard) {}

void HoverOverlayView::setRoundedCard(bool rounded) {
    roundedCard = rounded;
    update();
}

void HoverOverlayView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(CardShape::path(QRectF(rect()), roundedCard), QColor(0, 0, 0, qRound(0.35 * 255)));
}

}  // namespace quillet
