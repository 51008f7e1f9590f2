// Images for codec and clipboard tests: a painted pattern with text, gradients and hard edges,
// opaque or with translucent areas, in any QImage format.
#pragma once

#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

namespace quillet::test {

inline QImage patternImage(QSize size, QImage::Format format = QImage::Format_RGB32, bool translucent = false) {
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(translucent ? Qt::transparent : QColor(250, 250, 250));
    QPainter painter(&canvas);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, QColor(20, 90, 200, translucent ? 90 : 255));
    gradient.setColorAt(1, QColor(230, 120, 30, translucent ? 200 : 255));
    painter.fillRect(QRect(0, 0, size.width(), size.height() / 2 + 1), gradient);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(200, 30, 60, translucent ? 128 : 255));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRectF(size.width() * 0.4, size.height() * 0.3, size.width() * 0.5, size.height() * 0.6));
    painter.setPen(QColor(10, 10, 10));
    painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    painter.drawText(QRect(QPoint(2, size.height() / 2), size), QStringLiteral("Снимок экрана 0123 Quillet"));
    painter.end();
    return canvas.convertToFormat(format);
}

}  // namespace quillet::test
