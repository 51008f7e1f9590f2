#include "ui/widgets/SymbolImage.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

// Resources of a static library are only linked in when something asks for them.
static void initSymbolResources() { Q_INIT_RESOURCE(icons); }

namespace quillet::SymbolImage {

namespace {

QString resourcePath(const QString& name) {
    static const bool initialised = (initSymbolResources(), true);
    (void)initialised;
    return QStringLiteral(":/symbols/") + name + QStringLiteral(".svg");
}

}  // namespace

bool exists(const QString& name) { return !name.isEmpty() && QFile::exists(resourcePath(name)); }

std::optional<Glyph> render(const QString& name, qreal size, const QColor& colour, qreal devicePixelRatio) {
    static QHash<QString, Glyph> cache;
    const QString key = QStringLiteral("%1|%2|%3|%4").arg(name).arg(size).arg(colour.rgba()).arg(devicePixelRatio);
    if (auto cached = cache.constFind(key); cached != cache.constEnd()) return *cached;
    if (!exists(name)) return std::nullopt;

    QSvgRenderer svg(resourcePath(name));
    if (!svg.isValid()) return std::nullopt;
    const int pixels = std::max(1, static_cast<int>(std::lround(size * devicePixelRatio)));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter, QRectF(0, 0, pixels, pixels));
        // The files are drawn in black; the ink colour replaces it, keeping the coverage.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), colour);
    }
    image.setDevicePixelRatio(devicePixelRatio);
    Glyph glyph{image, visibleBounds(name, size)};
    cache.insert(key, glyph);
    return glyph;
}

QRectF visibleBounds(const QString& name, qreal size) {
    static QHash<QString, QRectF> cache;
    const QRectF box(0, 0, size, size);
    const QString key = name + QLatin1Char('|') + QString::number(size);
    if (auto cached = cache.constFind(key); cached != cache.constEnd()) return *cached;
    constexpr qreal factor = 8;
    const int pixels = static_cast<int>(std::ceil(size * factor));
    if (pixels < 1 || !exists(name)) return box;
    QSvgRenderer svg(resourcePath(name));
    QImage image(pixels, pixels, QImage::Format_Alpha8);
    if (image.isNull() || !svg.isValid()) return box;
    image.fill(0);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter, QRectF(0, 0, size * factor, size * factor));
    }
    image.setDevicePixelRatio(factor);
    QRectF ink = inkBounds(image, 17);
    if (ink.isEmpty()) ink = box;
    cache.insert(key, ink);
    return ink;
}

QRectF inkBounds(const QImage& image, int minimumAlpha) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int left = argb.width(), top = argb.height(), right = -1, bottom = -1;
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(line[x]) < minimumAlpha) continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    if (right < 0) return {};
    const qreal ratio = image.devicePixelRatio();
    return QRectF(left / ratio, top / ratio, (right - left + 1) / ratio, (bottom - top + 1) / ratio);
}

}  // namespace quillet::SymbolImage
