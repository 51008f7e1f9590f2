#include "ui/tray/TrayIconArt.h"

#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>

static void initTrayResources() { Q_INIT_RESOURCE(tray); }

namespace quillet::TrayIconArt {

QImage image(int size, const QColor& ink, bool badge) {
    static const bool initialised = (initTrayResources(), true);
    (void)initialised;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    {
        // The glyph is drawn in one colour; the ink replaces it, keeping the coverage.
        QImage glyph(size, size, QImage::Format_ARGB32_Premultiplied);
        glyph.fill(Qt::transparent);
        QPainter glyphPainter(&glyph);
        glyphPainter.setRenderHint(QPainter::Antialiasing);
        QSvgRenderer(QStringLiteral(":/tray/symbolic.svg")).render(&glyphPainter, QRectF(0, 0, size, size));
        glyphPainter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        glyphPainter.fillRect(glyph.rect(), ink);
        glyphPainter.end();
        painter.drawImage(0, 0, glyph);
    }
    if (badge) {
        // A disc over the lower right quarter, cut out of the glyph by a ring of transparency
        // so it stays apart from the strokes at 16 pixels.
        const qreal diameter = size * 0.58;
        const QRectF disc(size - diameter, size - diameter, diameter, diameter);
        const qreal gap = std::max<qreal>(1.0, size / 16.0);
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawEllipse(disc.adjusted(-gap, -gap, gap, gap));
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setBrush(badgeColour);
        painter.drawEllipse(disc);
        const qreal stroke = diameter * 0.16;
        const qreal x = disc.center().x();
        painter.setPen(QPen(Qt::white, stroke, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(x, disc.top() + diameter * 0.24), QPointF(x, disc.top() + diameter * 0.56));
        painter.drawPoint(QPointF(x, disc.top() + diameter * 0.76));
    }
    painter.end();
    return image;
}

QIcon icon(const QColor& ink, bool badge) {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(QPixmap::fromImage(image(size, ink, badge)));
    return icon;
}

}  // namespace quillet::TrayIconArt
