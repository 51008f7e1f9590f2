#include "ui/previews/WarningLabel.h"

#include "ui/previews/CardShape.h"
#include "ui/widgets/ButtonStyle.h"

#include <QPainter>

namespace quillet {

WarningLabel::WarningLabel(bool roundedCard, QWidget* parent) : QLabel(parent), roundedCard(roundedCard) {
    setWordWrap(true);
    setAlignment(Qt::AlignCenter);
    setFont(ButtonStyle::font(11, QFont::Medium));
    // 4 points on each side: the text wraps at the card's width less 8.
    setContentsMargins(4, 3, 4, 3);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);
    // The strip is part of the card: clicks and drags go to the card beneath.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void WarningLabel::setRoundedCard(bool rounded) {
    roundedCard = rounded;
    update();
}

void WarningLabel::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        // Only the part of the strip that lies on the card, so round corners stay round.
        const QRectF card = parentWidget() ? QRectF(QPointF(-pos()), QSizeF(parentWidget()->size())) : QRectF(rect());
        QColor red(255, 59, 48);
        red.setAlphaF(0.9f);
        painter.fillPath(CardShape::path(card, roundedCard).intersected(CardShape::path(QRectF(rect()), false)), red);
    }
    QLabel::paintEvent(event);
}

}  // namespace quillet
