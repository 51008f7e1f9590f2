#include "editor/EditRenderer.h"

#include <QPainter>
#include <QPen>
#include <QTransform>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

namespace quillet::EditRenderer {

namespace {

// Proportions of the drawing, in multiples of the annotation's thickness t.
constexpr double arrowRounding = 0.18;  // half the width of the stroke laid over the arrow outline
constexpr double outlineFactor = 0.24;  // the white halo beyond the red
constexpr double shadowBlur = 0.55;
constexpr double shadowOffset = 0.22;   // downward
constexpr double shadowAlpha = 0.38;
constexpr double highlightAlpha = 0.4;

double longerSide(QSize size) { return std::max(size.width(), size.height()); }

bool isFinite(QPointF p) { return std::isfinite(p.x()) && std::isfinite(p.y()); }

bool isFinite(const QRectF& r) {
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) && std::isfinite(r.height());
}

// ---- blur ------------------------------------------------------------------------------------

// Box radii of three passes that together come close to a Gaussian of `sigma`.
std::array<int, 3> boxRadii(double sigma) {
    constexpr int passes = 3;
    const double variance = 12 * sigma * sigma;
    int lower = static_cast<int>(std::floor(std::sqrt(variance / passes + 1)));
    if (lower % 2 == 0) --lower;
    lower = std::max(lower, 1);
    const int upper = lower + 2;
    const double ideal =
        (variance - passes * lower * lower - 4.0 * passes * lower - 3.0 * passes) / (-4.0 * lower - 4.0);
    const long lowerCount = std::lround(ideal);
    std::array<int, 3> radii{};
    for (int i = 0; i < passes; ++i) radii[i] = ((i < lowerCount ? lower : upper) - 1) / 2;
    return radii;
}

// Fixed-point factor (16 fractional bits) that turns a window sum into an average times `gain`.
std::uint32_t averagingFactor(int radius, double gain) {
    return static_cast<std::uint32_t>(std::lround(gain * 65536.0 / (2 * radius + 1)));
}

inline uchar averaged(std::uint32_t sum, std::uint32_t factor) {
    return static_cast<uchar>(std::min<std::uint32_t>((sum * factor + 32768u) >> 16, 255u));
}

// One box pass along the rows; pixels beyond the image count as transparent.
void boxHorizontal(const QImage& in, QImage& out, int radius, std::uint32_t factor) {
    const int w = in.width();
    for (int y = 0; y < in.height(); ++y) {
        const uchar* src = in.constScanLine(y);
        uchar* dst = out.scanLine(y);
        std::uint32_t sum = 0;
        for (int x = 0; x <= std::min(radius, w - 1); ++x) sum += src[x];
        for (int x = 0; x < w; ++x) {
            dst[x] = averaged(sum, factor);
            if (x + radius + 1 < w) sum += src[x + radius + 1];
            if (x - radius >= 0) sum -= src[x - radius];
        }
    }
}

// One box pass down the columns, a row at a time so memory is read in order.
void boxVertical(const QImage& in, QImage& out, int radius, std::uint32_t factor, std::vector<std::uint32_t>& sums) {
    const int w = in.width();
    const int h = in.height();
    sums.assign(std::size_t(w), 0);
    for (int y = 0; y <= std::min(radius, h - 1); ++y) {
        const uchar* src = in.constScanLine(y);
        for (int x = 0; x < w; ++x) sums[std::size_t(x)] += src[x];
    }
    for (int y = 0; y < h; ++y) {
        uchar* dst = out.scanLine(y);
        for (int x = 0; x < w; ++x) dst[x] = averaged(sums[std::size_t(x)], factor);
        if (y + radius + 1 < h) {
            const uchar* src = in.constScanLine(y + radius + 1);
            for (int x = 0; x < w; ++x) sums[std::size_t(x)] += src[x];
        }
        if (y - radius >= 0) {
            const uchar* src = in.constScanLine(y - radius);
            for (int x = 0; x < w; ++x) sums[std::size_t(x)] -= src[x];
        }
    }
}

// Blurs an Alpha8 mask in place and scales it by `gain`.
void blurMask(QImage& mask, double sigma, double gain) {
    // A blur wider than the mask spreads it flat anyway; the cap keeps the radii in range.
    sigma = std::min(sigma, double(std::max(mask.width(), mask.height())));
    QImage scratch;
    if (sigma >= 0.3) scratch = QImage(mask.size(), QImage::Format_Alpha8);
    if (scratch.isNull()) {  // too little to blur, or no memory for it: darken only
        const std::uint32_t factor = averagingFactor(0, gain);
        for (int y = 0; y < mask.height(); ++y) {
            uchar* line = mask.scanLine(y);
            for (int x = 0; x < mask.width(); ++x) line[x] = averaged(line[x], factor);
        }
        return;
    }
    std::vector<std::uint32_t> sums;
    const std::array<int, 3> radii = boxRadii(sigma);
    for (std::size_t i = 0; i < radii.size(); ++i) {
        boxHorizontal(mask, scratch, radii[i], averagingFactor(radii[i], 1));
        boxVertical(scratch, mask, radii[i], averagingFactor(radii[i], i + 1 == radii.size() ? gain : 1), sums);
    }
}

// ---- layers in device pixels -------------------------------------------------------------------

// How the painter's current coordinates land on the device's pixels. Shadows and the marker
// layer are rasterised in device pixels so they stay sharp on high-density screens and line up
// with the pixels they are composited onto.
struct DeviceMapping {
    QTransform toDevice;    // current coordinates → device pixels
    QTransform fromDevice;  // device pixels → the painter's coordinates after resetTransform()
    QRectF limit;           // the device pixels the painter can reach
    double lengthScale = 1;
};

std::optional<DeviceMapping> deviceMapping(QPainter& painter) {
    DeviceMapping m;
    m.toDevice = painter.deviceTransform();
    painter.save();
    painter.resetTransform();
    const QTransform base = painter.deviceTransform();
    const QRectF window = painter.window();
    painter.restore();
    bool invertible = false;
    m.fromDevice = base.inverted(&invertible);
    if (!invertible) return std::nullopt;
    m.limit = base.mapRect(window);
    if (painter.hasClipping()) m.limit &= m.toDevice.mapRect(painter.clipBoundingRect());
    m.lengthScale = std::sqrt(std::abs(m.toDevice.m11() * m.toDevice.m22() - m.toDevice.m12() * m.toDevice.m21()));
    return m;
}

// The whole device pixels a layer covering `area` (in current coordinates) needs, or nothing.
std::optional<QRect> layerRect(const QRectF& area, const DeviceMapping& m, double devicePadding) {
    if (!isFinite(area)) return std::nullopt;
    const QRectF device = m.toDevice.mapRect(area).adjusted(-devicePadding, -devicePadding, devicePadding, devicePadding);
    const QRectF reachable = device & m.limit;
    if (!isFinite(reachable) || reachable.isEmpty()) return std::nullopt;
    const QRect pixels = reachable.toAlignedRect();
    if (pixels.isEmpty()) return std::nullopt;
    return pixels;
}

// Draws a layer made in device pixels 1:1 at its place, through the painter's clip,
// opacity and composition mode.
void drawLayer(QPainter& painter, const QImage& layer, QPoint devicePosition, const DeviceMapping& m) {
    painter.save();
    painter.resetTransform();
    painter.setWorldTransform(m.fromDevice);
    painter.drawImage(devicePosition, layer);
    painter.restore();
}

// The soft shadow under a halo: the halo's coverage, moved down, blurred and darkened,
// composited before the halo itself.
void drawShadow(QPainter& painter, const QPainterPath& path, const QPen& pen, bool filled, double thickness) {
    const std::optional<DeviceMapping> mapping = deviceMapping(painter);
    if (!mapping) return;
    const DeviceMapping& m = *mapping;
    const QPointF offset(0, shadowOffset * thickness);
    const double sigma = shadowBlur * thickness / 2 * m.lengthScale;
    const double reach = pen.widthF() / 2 + 1;
    const QRectF shape = path.boundingRect().adjusted(-reach, -reach, reach, reach).translated(offset);
    const std::optional<QRect> pixels = layerRect(shape, m, 3 * sigma + 1);
    if (!pixels) return;
    QImage mask(pixels->size(), QImage::Format_Alpha8);
    if (mask.isNull()) return;
    mask.fill(0);
    {
        QPainter maskPainter(&mask);
        if (!maskPainter.isActive()) return;
        maskPainter.setRenderHint(QPainter::Antialiasing);
        maskPainter.setTransform(QTransform::fromTranslate(offset.x(), offset.y()) * m.toDevice *
                                 QTransform::fromTranslate(-pixels->x(), -pixels->y()));
        QPen coverage = pen;
        coverage.setColor(Qt::white);
        maskPainter.setPen(coverage);
        maskPainter.setBrush(filled ? QBrush(Qt::white) : QBrush(Qt::NoBrush));
        maskPainter.drawPath(path);
    }
    blurMask(mask, sigma, shadowAlpha);
    drawLayer(painter, mask, pixels->topLeft(), m);
}

// ---- highlighter ---------------------------------------------------------------------------

// Strokes whose padded bounds touch, directly or through others, share one layer; groups
// apart from each other cannot overlap, so compositing them one by one looks exactly like one
// layer for everything, while the layers stay small.
struct StrokeGroup {
    QPainterPath path;
    QRectF bounds;
};

QList<StrokeGroup> strokeGroups(const QList<QList<QPointF>>& strokes, double padding) {
    std::vector<qsizetype> drawn;
    std::vector<QRectF> bounds;
    for (qsizetype i = 0; i < strokes.size(); ++i) {
        const QList<QPointF>& points = strokes[i];
        if (points.size() < 2 || !std::all_of(points.begin(), points.end(), [](QPointF p) { return isFinite(p); }))
            continue;
        double left = points[0].x(), right = left, top = points[0].y(), bottom = top;
        for (QPointF p : points) {
            left = std::min(left, p.x());
            right = std::max(right, p.x());
            top = std::min(top, p.y());
            bottom = std::max(bottom, p.y());
        }
        drawn.push_back(i);
        bounds.push_back(QRectF(QPointF(left, top), QPointF(right, bottom)).adjusted(-padding, -padding, padding, padding));
    }
    std::vector<std::size_t> parent(drawn.size());
    std::iota(parent.begin(), parent.end(), 0);
    const auto root = [&](std::size_t i) {
        while (parent[i] != i) i = parent[i] = parent[parent[i]];
        return i;
    };
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        for (std::size_t j = i + 1; j < drawn.size(); ++j) {
            if (bounds[i].intersects(bounds[j])) parent[root(j)] = root(i);
        }
    }
    QList<StrokeGroup> groups;
    std::vector<qsizetype> groupOfRoot(drawn.size(), -1);
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        const std::size_t r = root(i);
        if (groupOfRoot[r] < 0) {
            groupOfRoot[r] = groups.size();
            groups.append(StrokeGroup{});
        }
        StrokeGroup& group = groups[groupOfRoot[r]];
        const QList<QPointF>& points = strokes[drawn[i]];
        group.path.moveTo(points[0]);
        for (qsizetype k = 1; k < points.size(); ++k) group.path.lineTo(points[k]);
        group.bounds |= bounds[i];
    }
    return groups;
}

// The marker's coverage in device pixels: the strokes of a group stroked together once.
QImage highlightMask(const QPainterPath& path, double thickness, const QTransform& toDevice, const QRect& pixels) {
    QImage mask(pixels.size(), QImage::Format_Alpha8);
    if (mask.isNull()) return mask;
    mask.fill(0);
    QPainter maskPainter(&mask);
    if (!maskPainter.isActive()) return QImage();
    maskPainter.setRenderHint(QPainter::Antialiasing);
    maskPainter.setTransform(toDevice * QTransform::fromTranslate(-pixels.x(), -pixels.y()));
    maskPainter.setPen(QPen(Qt::white, thickness, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    maskPainter.setBrush(Qt::NoBrush);
    maskPainter.drawPath(path);
    return mask;
}

// A premultiplied colour at `coverage` / 255 of its strength.
QRgb scaled(QRgb colour, uchar coverage) {
    if (coverage == 0) return 0;
    const auto part = [coverage](int channel) { return (channel * coverage + 127) / 255; };
    return qRgba(part(qRed(colour)), part(qGreen(colour)), part(qBlue(colour)), part(qAlpha(colour)));
}

// Multiplies the marker colour at 40 % through `mask` into a premultiplied image, with the
// formula of the painter's multiply mode, without a full-colour layer in between. Per
// coverage value the factors are worked out once, in 16-bit fixed point:
//   colour' = colour × (1 − a + a × marker) + a × marker × (1 − alpha),  alpha' = alpha + a × (1 − alpha)
// where a is the layer's alpha at that pixel.
void multiplyHighlight(QImage& image, const QImage& mask, QPoint origin) {
    const QColor& colour = highlightColor();
    const double marker[3] = {colour.red() / 255.0, colour.green() / 255.0, colour.blue() / 255.0};
    struct Factors {
        std::uint32_t keep[3];   // on the pixel's own colour
        std::uint32_t cover[3];  // on what the pixel lacks of full alpha
        std::uint32_t alpha;
    };
    std::array<Factors, 256> table{};
    for (int m = 1; m < 256; ++m) {
        const double a = highlightAlpha * m / 255.0;
        for (int c = 0; c < 3; ++c) {
            table[std::size_t(m)].keep[c] = std::uint32_t(std::lround(65536 * (1 - a + a * marker[c])));
            table[std::size_t(m)].cover[c] = std::uint32_t(std::lround(65536 * a * marker[c]));
        }
        table[std::size_t(m)].alpha = std::uint32_t(std::lround(65536 * a));
    }
    for (int y = 0; y < mask.height(); ++y) {
        const uchar* coverage = mask.constScanLine(y);
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(origin.y() + y)) + origin.x();
        for (int x = 0; x < mask.width(); ++x) {
            if (coverage[x] == 0) continue;
            const Factors& f = table[coverage[x]];
            const QRgb d = line[x];
            const std::uint32_t alpha = qAlpha(d);
            const std::uint32_t missing = 255 - alpha;
            const auto mix = [&](std::uint32_t value, int c) {
                return std::min<std::uint32_t>((value * f.keep[c] + missing * f.cover[c] + 32768u) >> 16, 255u);
            };
            const std::uint32_t a = std::min<std::uint32_t>((alpha * 65536u + missing * f.alpha + 32768u) >> 16, 255u);
            line[x] = qRgba(int(std::min(mix(qRed(d), 0), a)), int(std::min(mix(qGreen(d), 1), a)),
                            int(std::min(mix(qBlue(d), 2), a)), int(a));
        }
    }
}

}  // namespace

// ---- colours and sizes -------------------------------------------------------------------------

const QColor& arrowColor() {
    static const QColor colour = QColor::fromRgbF(1.0f, 0.231f, 0.188f, 1.0f);
    return colour;
}

const QColor& highlightColor() {
    static const QColor colour = QColor::fromRgbF(1.0f, 0.839f, 0.039f, 1.0f);
    return colour;
}

double arrowThickness(QSize imageSize) { return std::max(longerSide(imageSize) * 0.006, 9.0); }

double frameThickness(QSize imageSize) { return std::max(0.6 * arrowThickness(imageSize), 6.0); }

double highlightThickness(QSize imageSize) { return std::max(longerSide(imageSize) * 0.022, 18.0); }

int pixelationBlockSize(QSize imageSize) {
    return std::max(static_cast<int>(std::lround(longerSide(imageSize) * 0.012)), 12);
}

double arrowOutlineWidth(double thickness) { return outlineFactor * thickness; }

double frameOutlineWidth(double thickness) { return outlineFactor * thickness; }

double frameCornerRadius(const QRectF& rect, double thickness) {
    const QRectF r = rect.normalized();
    return std::min(std::min(r.width(), r.height()) / 2, 2.2 * thickness);
}

std::optional<QRect> wholePixelRect(const QRectF& rect, const QRect& bounds) {
    if (!isFinite(rect)) return std::nullopt;
    const QRectF r = rect.normalized();
    const double left = std::max(std::floor(r.left()), double(bounds.x()));
    const double top = std::max(std::floor(r.top()), double(bounds.y()));
    const double right = std::min(std::ceil(r.right()), double(bounds.x()) + bounds.width());
    const double bottom = std::min(std::ceil(r.bottom()), double(bounds.y()) + bounds.height());
    if (right - left < 1 || bottom - top < 1) return std::nullopt;
    return QRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                 static_cast<int>(bottom - top));
}

// ---- arrow outline ----------------------------------------------------------------------------

QPainterPath arrowPath(QPointF from, QPointF to, double thickness) {
    QPainterPath path;
    if (!isFinite(from) || !isFinite(to) || !std::isfinite(thickness)) return path;
    const QPointF d = to - from;
    const double length = std::hypot(d.x(), d.y());
    if (!(length > 0)) return path;
    const double t = thickness;
    const QPointF u = d / length;
    const QPointF n(-u.y(), u.x());
    const double r = arrowRounding * t;
    const double head = std::min(length / 2, 3.6 * t);
    const QPointF base = to - head * u;
    const QPointF tail = from + r * u;
    const double shaft = 0.575 * t - 0.2 * r;  // half-width where the head begins
    const QPointF barbs = base - 0.2 * t * u;
    const QPointF tip = to - 1.6 * r * u;
    path.setFillRule(Qt::WindingFill);  // very short arrows fold over themselves
    path.moveTo(tail + 0.14 * t * n);
    path.lineTo(base + shaft * n);
    path.lineTo(barbs + 1.7 * t * n);
    path.lineTo(tip);
    path.lineTo(barbs - 1.7 * t * n);
    path.lineTo(base - shaft * n);
    path.lineTo(tail - 0.14 * t * n);
    path.closeSubpath();
    return path;
}

// ---- drawing -------------------------------------------------------------------------------------

void drawArrow(QPointF from, QPointF to, double thickness, QPainter& painter) {
    const QPainterPath path = arrowPath(from, to, thickness);
    if (path.isEmpty() || !(thickness > 0)) return;
    const double rounding = 2 * arrowRounding * thickness;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPen halo(Qt::white, rounding + 2 * arrowOutlineWidth(thickness), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    drawShadow(painter, path, halo, true, thickness);
    painter.setPen(halo);
    painter.setBrush(Qt::white);
    painter.drawPath(path);
    painter.setPen(QPen(arrowColor(), rounding, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(arrowColor());
    painter.drawPath(path);
    painter.restore();
}

void drawFrame(const QRectF& rect, double thickness, QPainter& painter) {
    if (!isFinite(rect) || !(thickness > 0) || !std::isfinite(thickness)) return;
    const QRectF r = rect.normalized();
    const double radius = frameCornerRadius(r, thickness);
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPen halo(Qt::white, thickness + 2 * frameOutlineWidth(thickness), Qt::SolidLine, Qt::RoundCap,
                    Qt::RoundJoin);
    drawShadow(painter, path, halo, false, thickness);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(halo);
    painter.drawPath(path);
    painter.setPen(QPen(arrowColor(), thickness, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(path);
    painter.restore();
}

void drawHighlights(const QList<QList<QPointF>>& strokes, double thickness, QPainter& painter) {
    if (!(thickness > 0) || !std::isfinite(thickness)) return;
    const QList<StrokeGroup> groups = strokeGroups(strokes, thickness / 2 + 1);
    if (groups.isEmpty()) return;
    const std::optional<DeviceMapping> mapping = deviceMapping(painter);
    if (!mapping) return;
    const DeviceMapping& m = *mapping;
    const QRgb colour = qPremultiply(highlightColor().rgba());
    for (const StrokeGroup& group : groups) {
        const std::optional<QRect> pixels = layerRect(group.bounds, m, 1);
        if (!pixels) continue;
        const QImage mask = highlightMask(group.path, thickness, m.toDevice, *pixels);
        if (mask.isNull()) continue;
        QImage layer(mask.size(), QImage::Format_ARGB32_Premultiplied);
        if (layer.isNull()) continue;
        for (int y = 0; y < mask.height(); ++y) {
            const uchar* coverage = mask.constScanLine(y);
            auto* line = reinterpret_cast<QRgb*>(layer.scanLine(y));
            for (int x = 0; x < mask.width(); ++x) line[x] = scaled(colour, coverage[x]);
        }
        painter.save();
        painter.setOpacity(painter.opacity() * highlightAlpha);
        painter.setCompositionMode(QPainter::CompositionMode_Multiply);
        drawLayer(painter, layer, pixels->topLeft(), m);
        painter.restore();
    }
}

void drawPixelation(const QList<PixelationBlock>& blocks, QPainter& painter) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const PixelationBlock& block : blocks) painter.fillRect(block.rect, block.color);
    painter.restore();
}

// ---- pixelation cells -----------------------------------------------------------------------------

QList<PixelationBlock> pixelationBlocks(const QImage& source, const QRectF& area, double blockSize) {
    if (source.isNull() || !std::isfinite(blockSize) || !isFinite(area)) return {};
    const std::optional<QRect> inside = wholePixelRect(area, source.rect());
    if (!inside) return {};
    // The upper limit only keeps the arithmetic in range; any cell that large covers the image.
    const double cell = std::clamp(std::round(blockSize), 1.0, 1e12);
    const std::int64_t s = static_cast<std::int64_t>(cell);
    const QRectF grid = area.normalized();

    // The grid line at or before `start`, counted from the area's own corner `anchor`.
    const auto firstLine = [&](double anchor, int start) {
        return start - static_cast<std::int64_t>(std::fmod(start - std::floor(anchor), cell));
    };
    std::vector<std::pair<int, int>> columns;
    for (std::int64_t x = firstLine(grid.left(), inside->left()); x < inside->x() + inside->width(); x += s) {
        const int from = static_cast<int>(std::max<std::int64_t>(x, inside->x()));
        const int to = static_cast<int>(std::min<std::int64_t>(x + s, inside->x() + inside->width()));
        if (to - from >= 1) columns.emplace_back(from, to);
    }
    std::vector<std::pair<int, int>> rows;
    for (std::int64_t y = firstLine(grid.top(), inside->top()); y < inside->y() + inside->height(); y += s) {
        const int from = static_cast<int>(std::max<std::int64_t>(y, inside->y()));
        const int to = static_cast<int>(std::min<std::int64_t>(y + s, inside->y() + inside->height()));
        if (to - from >= 1) rows.emplace_back(from, to);
    }

    // Screen grabs come as (A)RGB32; other formats are converted, only the part we read.
    const QImage::Format format = source.format();
    const bool direct = format == QImage::Format_ARGB32_Premultiplied || format == QImage::Format_RGB32;
    const bool opaque = format == QImage::Format_RGB32;
    QImage converted;
    QPoint shift(0, 0);  // source pixel (x, y) is at (x, y) - shift in `pixels`
    if (!direct) {
        converted = source.copy(*inside).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (converted.isNull()) return {};
        shift = inside->topLeft();
    }
    const QImage& pixels = direct ? source : converted;

    QList<PixelationBlock> blocks;
    blocks.reserve(qsizetype(rows.size() * columns.size()));
    std::vector<std::uint64_t> sums(columns.size() * 4);
    for (const auto& [top, bottom] : rows) {
        std::fill(sums.begin(), sums.end(), 0);
        for (int y = top; y < bottom; ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(pixels.constScanLine(y - shift.y())) - shift.x();
            for (std::size_t c = 0; c < columns.size(); ++c) {
                std::uint32_t r = 0, g = 0, b = 0, a = 0;
                for (int x = columns[c].first; x < columns[c].second; ++x) {
                    const QRgb p = line[x];
                    r += qRed(p);
                    g += qGreen(p);
                    b += qBlue(p);
                    a += qAlpha(p);
                }
                if (opaque) a = 255u * std::uint32_t(columns[c].second - columns[c].first);
                sums[4 * c] += r;
                sums[4 * c + 1] += g;
                sums[4 * c + 2] += b;
                sums[4 * c + 3] += a;
            }
        }
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const auto [left, right] = columns[c];
            const double count = double(right - left) * double(bottom - top);
            const double alphaSum = double(sums[4 * c + 3]) / 255;
            const double weight = std::max(alphaSum, 0.0001);
            const auto channel = [&](int i) { return float(std::clamp(double(sums[4 * c + i]) / 255 / weight, 0.0, 1.0)); };
            const float alpha = float(std::clamp(alphaSum / count, 0.0, 1.0));
            blocks.append(PixelationBlock{QRectF(left, top, right - left, bottom - top),
                                          QColor::fromRgbF(channel(0), channel(1), channel(2), alpha)});
        }
    }
    return blocks;
}

// ---- the finished picture -----------------------------------------------------------------------

QImage render(const QImage& source, const QList<EditArrow>& arrows, const QList<EditRectangle>& frames,
              const QList<EditStroke>& highlights, const QList<EditRectangle>& pixelations,
              const std::optional<QRectF>& crop) {
    if (source.isNull()) return source;
    const QRect bounds = source.rect();
    QRect region = bounds;
    if (crop) {
        const std::optional<QRect> cropped = wholePixelRect(*crop, bounds);
        if (!cropped) return source;
        region = *cropped;
    }
    const bool annotated = !arrows.isEmpty() || !frames.isEmpty() || !highlights.isEmpty() || !pixelations.isEmpty();
    if (!annotated && region == bounds) return source;

    QImage output = source.copy(region);
    if (output.isNull()) return source;
    output.convertTo(QImage::Format_ARGB32_Premultiplied);
    if (output.isNull() || output.format() != QImage::Format_ARGB32_Premultiplied) return source;
    output.setDevicePixelRatio(1);
    const QTransform toOutput = QTransform::fromTranslate(-region.x(), -region.y());
    const QSize size = source.size();

    if (!pixelations.isEmpty()) {
        QPainter painter(&output);
        if (!painter.isActive()) return source;
        painter.setTransform(toOutput);
        const int blockSize = pixelationBlockSize(size);
        for (const EditRectangle& area : pixelations) drawPixelation(pixelationBlocks(source, area.rect, blockSize), painter);
    }

    if (!highlights.isEmpty()) {
        const double thickness = highlightThickness(size);
        QList<QList<QPointF>> strokes;
        strokes.reserve(highlights.size());
        for (const EditStroke& stroke : highlights) strokes.append(stroke.points);
        DeviceMapping m;
        m.toDevice = toOutput;
        m.limit = QRectF(output.rect());
        for (const StrokeGroup& group : strokeGroups(strokes, thickness / 2 + 1)) {
            const std::optional<QRect> pixels = layerRect(group.bounds, m, 1);
            if (!pixels) continue;
            const QImage mask = highlightMask(group.path, thickness, toOutput, *pixels);
            if (!mask.isNull()) multiplyHighlight(output, mask, pixels->topLeft());
        }
    }

    if (!frames.isEmpty() || !arrows.isEmpty()) {
        QPainter painter(&output);
        if (!painter.isActive()) return source;
        painter.setTransform(toOutput);
        const double frameWidth = frameThickness(size);
        for (const EditRectangle& frame : frames) drawFrame(frame.rect, frameWidth, painter);
        const double arrowWidth = arrowThickness(size);
        for (const EditArrow& arrow : arrows) drawArrow(arrow.start, arrow.end, arrowWidth, painter);
    }
    return output;
}

}  // namespace quillet::EditRenderer
