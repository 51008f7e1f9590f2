#include "ui/widgets/PillButton.h"

#include "ui/widgets/ButtonStyle.h"

#include <QPainter>

namespace quillet {

PillButton::PillButton(const QString& title, QWidget* parent) : QAbstractButton(parent), titleText(title) {
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(sizeHint());
    setAccessibleName(title);
}

void PillButton::setTitle(const QString& title) {
    titleText = title;
    update();
}

void PillButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isDown() ? 0.75 : 1.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ButtonStyle::fill());
    painter.drawRoundedRect(QRectF(rect()), 12, 12);
    painter.setPen(ButtonStyle::ink());
    painter.setFont(ButtonStyle::font(10.5, QFont::Medium));
    painter.drawText(rect(), Qt::AlignCenter, titleText);
}

}  // namespace quillet
