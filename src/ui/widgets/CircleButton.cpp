#include "ui/widgets/CircleButton.h"

#include "ui/widgets/ButtonStyle.h"
#include "ui/widgets/SymbolImage.h"

#include <QPainter>

namespace quillet {

namespace {

constexpr qreal symbolSize = 11;  // the box of a 9.5-point glyph

}  // namespace

CircleButton::CircleButton(const QString& symbol, const QString& label, QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(sizeHint());
    setSymbol(symbol, label);
}

void CircleButton::setSymbol(const QString& symbol, const QString& label) {
    symbolName = symbol;
    labelText = label;
    setToolTip(label);
    setAccessibleName(label);
    update();
}

void CircleButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? 1.0 : 0.4);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ButtonStyle::fill());
    painter.drawEllipse(QRectF(rect()));

    const auto glyph = SymbolImage::render(symbolName, symbolSize, ButtonStyle::ink(), devicePixelRatioF());
    if (!glyph || glyph->ink.isEmpty()) return;
    if (isDown()) painter.setOpacity(painter.opacity() * 0.6);
    // Centred by the glyph's ink, not by its box.
    const QPointF origin = QRectF(rect()).center() - glyph->ink.center();
    painter.drawImage(origin, glyph->image);
}

}  // namespace quillet
