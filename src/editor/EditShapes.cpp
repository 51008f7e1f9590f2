#include "editor/EditShapes.h"

#include <cmath>

namespace quillet {

double EditStroke::length(const QList<QPointF>& points) {
    double total = 0;
    for (qsizetype i = 1; i < points.size(); ++i) {
        const QPointF d = points[i] - points[i - 1];
        total += std::hypot(d.x(), d.y());
    }
    return total;
}

EditStroke EditStroke::moved(QPointF delta) const {
    EditStroke copy{id, points};
    for (QPointF& point : copy.points) point += delta;
    return copy;
}

bool operator==(const EditStroke& a, const EditStroke& b) {
    if (a.id != b.id || a.points.size() != b.points.size()) return false;
    for (qsizetype i = 0; i < a.points.size(); ++i) {
        if (!samePoint(a.points[i], b.points[i])) return false;
    }
    return true;
}

size_t qHash(EditKind kind, size_t seed) { return ::qHash(static_cast<int>(kind), seed); }

size_t qHash(const EditItem& item, size_t seed) {
    return qHashMulti(seed, static_cast<int>(item.kind), item.id);
}

}  // namespace quillet
