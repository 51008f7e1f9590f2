// The annotation records of the editor besides arrows, and the small identity that names one
// annotation without holding it. All coordinates are source-image pixels, origin top-left,
// y downward; every record keeps its id across moves, undo and redo.
//
//   EditItem item{EditKind::frame, frame.id};   // what the canvas keeps as its selection
//   document.move(item, {4, 0});
#pragma once

#include "editor/EditArrow.h"

#include <QHashFunctions>
#include <QList>
#include <QRectF>
#include <QUuid>

#include <array>
#include <cstddef>
#include <functional>

namespace quillet {

// Exact comparison of rectangles (QRectF's operator== is fuzzy).
inline bool sameRect(const QRectF& a, const QRectF& b) {
    return a.x() == b.x() && a.y() == b.y() && a.width() == b.width() && a.height() == b.height();
}

// A frame or a pixelated area.
struct EditRectangle {
    QUuid id;
    QRectF rect;

    EditRectangle moved(QPointF delta) const { return {id, rect.translated(delta)}; }

    friend bool operator==(const EditRectangle& a, const EditRectangle& b) {
        return a.id == b.id && sameRect(a.rect, b.rect);
    }
};

// A highlighter stroke: a polyline in the order it was drawn.
struct EditStroke {
    QUuid id;
    QList<QPointF> points;

    // Sum of the distances between consecutive points; 0 for fewer than two points.
    static double length(const QList<QPointF>& points);
    double length() const { return length(points); }
    EditStroke moved(QPointF delta) const;

    friend bool operator==(const EditStroke& a, const EditStroke& b);
};

// The four kinds of annotation, in the order the toolbar and the canvas list them.
enum class EditKind { arrow, frame, highlight, pixelation };

inline constexpr std::array<EditKind, 4> allEditKinds{EditKind::arrow, EditKind::frame, EditKind::highlight,
                                                      EditKind::pixelation};

struct EditItem {
    EditKind kind = EditKind::arrow;
    QUuid id;

    friend bool operator==(const EditItem&, const EditItem&) = default;
};

size_t qHash(EditKind kind, size_t seed = 0);
// Combines the kind and then the id.
size_t qHash(const EditItem& item, size_t seed = 0);

}  // namespace quillet

template <>
struct std::hash<quillet::EditItem> {
    size_t operator()(const quillet::EditItem& item) const noexcept { return quillet::qHash(item); }
};
