#include "editor/CropFrame.h"

#include <algorithm>
#include <cmath>

namespace quillet::CropFrame {

namespace {

struct Factors {
    int fx;
    int fy;
};

Factors factors(CropHandle handle) {
    switch (handle) {
    case CropHandle::topLeft: return {-1, -1};
    case CropHandle::top: return {0, -1};
    case CropHandle::topRight: return {1, -1};
    case CropHandle::right: return {1, 0};
    case CropHandle::bottomRight: return {1, 1};
    case CropHandle::bottom: return {0, 1};
    case CropHandle::bottomLeft: return {-1, 1};
    case CropHandle::left: return {-1, 0};
    }
    return {0, 0};
}

// std::clamp insists on low <= high; a degenerate bounds rectangle must not make that UB.
double clampInto(double value, double low, double high) { return std::max(low, std::min(value, high)); }

QPointF clampInto(QPointF p, const QRectF& bounds) {
    return {clampInto(p.x(), bounds.left(), bounds.right()), clampInto(p.y(), bounds.top(), bounds.bottom())};
}

}  // namespace

QPointF point(CropHandle handle, const QRectF& rect) {
    const Factors f = factors(handle);
    const QPointF centre = rect.center();
    return {centre.x() + f.fx * rect.width() / 2, centre.y() + f.fy * rect.height() / 2};
}

std::optional<CropHandle> handle(QPointF p, const QRectF& rect, double reach) {
    std::optional<CropHandle> best;
    double bestDistance = 0;
    for (CropHandle candidate : allCropHandles) {
        const QPointF d = point(candidate, rect) - p;
        const double distance = std::hypot(d.x(), d.y());
        if (distance > reach) continue;
        if (!best || distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

QRectF rect(QPointF from, QPointF to, const QRectF& bounds) {
    const QPointF a = clampInto(from, bounds);
    const QPointF b = clampInto(to, bounds);
    return QRectF(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::abs(a.x() - b.x()), std::abs(a.y() - b.y()));
}

QRectF move(const QRectF& rect, QPointF delta, const QRectF& bounds) {
    const double x = std::min(std::max(rect.x() + delta.x(), bounds.left()), bounds.right() - rect.width());
    const double y = std::min(std::max(rect.y() + delta.y(), bounds.top()), bounds.bottom() - rect.height());
    return QRectF(x, y, rect.width(), rect.height());
}

QRectF resize(const QRectF& rect, CropHandle handle, QPointF p, const QRectF& bounds, double minimumSide) {
    const QPointF clamped = clampInto(p, bounds);
    double minX = rect.left();
    double maxX = rect.right();
    double minY = rect.top();
    double maxY = rect.bottom();
    const Factors f = factors(handle);
    if (f.fx > 0) maxX = std::max(clamped.x(), minX + minimumSide);
    if (f.fx < 0) minX = std::min(clamped.x(), maxX - minimumSide);
    if (f.fy > 0) maxY = std::max(clamped.y(), minY + minimumSide);
    if (f.fy < 0) minY = std::min(clamped.y(), maxY - minimumSide);
    return QRectF(QPointF(minX, minY), QPointF(maxX, maxY));
}

}  // namespace quillet::CropFrame
