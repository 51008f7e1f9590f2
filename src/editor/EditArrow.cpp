#include "editor/EditArrow.h"

#include <algorithm>
#include <cmath>

namespace quillet {

double distanceFromSegment(QPointF point, QPointF a, QPointF b) {
    const QPointF d = b - a;
    const double lengthSquared = d.x() * d.x() + d.y() * d.y();
    QPointF nearest = a;
    if (lengthSquared > 0) {
        const QPointF fromA = point - a;
        const double t = std::clamp((fromA.x() * d.x() + fromA.y() * d.y()) / lengthSquared, 0.0, 1.0);
        nearest = a + t * d;
    }
    return std::hypot(point.x() - nearest.x(), point.y() - nearest.y());
}

double EditArrow::length() const { return std::hypot(end.x() - start.x(), end.y() - start.y()); }

}  // namespace quillet
