// One annotation arrow of the editor, as a value: where it starts and where its tip points, in
// source-image pixels (origin top-left, y downward). The id stays fixed for the arrow's life,
// across moves, undo and redo, so a selection can follow it.
//
//   EditArrow arrow{QUuid::createUuid(), {10, 10}, {120, 40}};
//   if (arrow.distance(mouse) <= tolerance) ...   // hit
#pragma once

#include <QPointF>
#include <QUuid>

namespace quillet {

// Distance from `point` to the segment a–b (to `a` when the segment has no length).
double distanceFromSegment(QPointF point, QPointF a, QPointF b);

// Exact comparison: QPointF's own operator== is fuzzy, and the document tells a changed state
// from an unchanged one by value.
inline bool samePoint(QPointF a, QPointF b) { return a.x() == b.x() && a.y() == b.y(); }

struct EditArrow {
    QUuid id;
    QPointF start;
    QPointF end;  // the tip

    double length() const;
    double distance(QPointF point) const { return distanceFromSegment(point, start, end); }
    EditArrow moved(QPointF delta) const { return {id, start + delta, end + delta}; }

    friend bool operator==(const EditArrow& a, const EditArrow& b) {
        return a.id == b.id && samePoint(a.start, b.start) && samePoint(a.end, b.end);
    }
};

}  // namespace quillet
