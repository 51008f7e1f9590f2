#include "ui/widgets/ButtonStyle.h"

#include <QApplication>
#include <QScreen>

namespace quillet::ButtonStyle {

QColor fill() { return QColor::fromRgbF(0.93f, 0.93f, 0.93f, 0.96f); }
QColor ink() { return QColor::fromRgbF(0.14f, 0.14f, 0.14f, 1.0f); }

QFont font(qreal pixelSize, QFont::Weight weight) {
    QFont result = QApplication::font();
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    result.setPointSizeF(pixelSize * 72.0 / dpi);
    result.setWeight(weight);
    return result;
}

}  // namespace quillet::ButtonStyle
