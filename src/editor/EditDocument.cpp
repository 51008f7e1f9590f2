#include "editor/EditDocument.h"

#include "editor/EditRenderer.h"

#include <QUndoCommand>
#include <QUndoStack>

#include <algorithm>
#include <cmath>
#include <utility>

namespace quillet {

namespace {

bool isFinite(QPointF p) { return std::isfinite(p.x()) && std::isfinite(p.y()); }

bool isFinite(const QRectF& r) {
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) && std::isfinite(r.height());
}

// Left and top edges belong to the rectangle, right and bottom ones do not.
bool inside(const QRectF& rect, QPointF p) {
    return p.x() >= rect.left() && p.x() < rect.right() && p.y() >= rect.top() && p.y() < rect.bottom();
}

template <class Record>
bool holds(const QList<Record>& records, const QUuid& id) {
    return std::any_of(records.begin(), records.end(), [&](const Record& r) { return r.id == id; });
}

template <class Record>
void moveIn(QList<Record>& records, const QUuid& id, QPointF delta) {
    for (Record& record : records) {
        if (record.id == id) record = record.moved(delta);
    }
}

template <class Record>
void removeFrom(QList<Record>& records, const QUuid& id) {
    records.removeIf([&](const Record& r) { return r.id == id; });
}

}  // namespace

// One undo step: the snapshots before and after a change. The stack calls redo() when the
// step is pushed, so applying a change and redoing it are the same code.
class EditDocument::SnapshotCommand : public QUndoCommand {
public:
    SnapshotCommand(EditDocument& document, State before, State after, const QString& actionName)
        : QUndoCommand(actionName), document(document), before(std::move(before)), after(std::move(after)) {}

    void undo() override { document.setState(before); }
    void redo() override { document.setState(after); }

private:
    EditDocument& document;
    State before;
    State after;
};

bool EditDocument::State::operator==(const State& other) const {
    const bool sameCrop = crop.has_value() == other.crop.has_value() && (!crop || sameRect(*crop, *other.crop));
    return sameCrop && arrows == other.arrows && frames == other.frames && highlights == other.highlights &&
           pixelations == other.pixelations;
}

EditDocument::EditDocument(QImage source) : sourceImage(std::move(source)), undoStack(std::make_unique<QUndoStack>()) {
    // The listeners hear about a change only once the stack has settled on its new index, so
    // they may read it, and even push another step, from inside a `changed` handler.
    stackConnection = QObject::connect(undoStack.get(), &QUndoStack::indexChanged, undoStack.get(),
                                       [this] { notifyIfChanged(); });
}

EditDocument::~EditDocument() {
    QObject::disconnect(stackConnection);
}

void EditDocument::apply(State newState, const QString& actionName) {
    undoStack->push(new SnapshotCommand(*this, state, std::move(newState), actionName));
    // Inside a macro someone else opened the index does not move yet; tell the listeners now.
    notifyIfChanged();
}

void EditDocument::setState(const State& newState) {
    state = newState;
    changePending = true;
}

void EditDocument::notifyIfChanged() {
    if (!changePending) return;
    changePending = false;
    Q_EMIT changed();
}

std::optional<QRectF> EditDocument::clippedToImage(const QRectF& rect) const {
    if (!isFinite(rect)) return std::nullopt;
    const QRectF clipped = rect.normalized() & QRectF(sourceImage.rect());
    if (clipped.isEmpty() || clipped.width() < minimumShapeSide || clipped.height() < minimumShapeSide)
        return std::nullopt;
    return clipped;
}

std::optional<QUuid> EditDocument::addArrow(QPointF from, QPointF to) {
    if (!isFinite(from) || !isFinite(to)) return std::nullopt;
    const EditArrow arrow{QUuid::createUuid(), from, to};
    if (!(arrow.length() >= minimumArrowLength)) return std::nullopt;
    State next = state;
    next.arrows.append(arrow);
    apply(std::move(next), QStringLiteral("Стрелка"));
    return arrow.id;
}

std::optional<QUuid> EditDocument::addFrame(const QRectF& rect) {
    const std::optional<QRectF> clipped = clippedToImage(rect);
    if (!clipped) return std::nullopt;
    const EditRectangle frame{QUuid::createUuid(), *clipped};
    State next = state;
    next.frames.append(frame);
    apply(std::move(next), QStringLiteral("Рамка"));
    return frame.id;
}

std::optional<QUuid> EditDocument::addHighlight(const QList<QPointF>& points) {
    if (!std::all_of(points.begin(), points.end(), [](QPointF p) { return isFinite(p); })) return std::nullopt;
    if (!(EditStroke::length(points) >= minimumHighlightLength)) return std::nullopt;
    const EditStroke stroke{QUuid::createUuid(), points};
    State next = state;
    next.highlights.append(stroke);
    apply(std::move(next), QStringLiteral("Маркер"));
    return stroke.id;
}

std::optional<QUuid> EditDocument::addPixelation(const QRectF& rect) {
    const std::optional<QRectF> clipped = clippedToImage(rect);
    if (!clipped) return std::nullopt;
    const EditRectangle area{QUuid::createUuid(), *clipped};
    State next = state;
    next.pixelations.append(area);
    apply(std::move(next), QStringLiteral("Скрытие"));
    return area.id;
}

void EditDocument::move(const EditItem& item, QPointF delta) {
    if (!isFinite(delta) || (delta.x() == 0 && delta.y() == 0) || !contains(item)) return;
    State next = state;
    switch (item.kind) {
    case EditKind::arrow: moveIn(next.arrows, item.id, delta); break;
    case EditKind::frame: moveIn(next.frames, item.id, delta); break;
    case EditKind::highlight: moveIn(next.highlights, item.id, delta); break;
    case EditKind::pixelation: moveIn(next.pixelations, item.id, delta); break;
    }
    apply(std::move(next), QStringLiteral("Перемещение"));
}

void EditDocument::remove(const EditItem& item) {
    if (!contains(item)) return;
    State next = state;
    switch (item.kind) {
    case EditKind::arrow: removeFrom(next.arrows, item.id); break;
    case EditKind::frame: removeFrom(next.frames, item.id); break;
    case EditKind::highlight: removeFrom(next.highlights, item.id); break;
    case EditKind::pixelation: removeFrom(next.pixelations, item.id); break;
    }
    apply(std::move(next), QStringLiteral("Удаление"));
}

void EditDocument::setCrop(const std::optional<QRectF>& rect) {
    State next = state;
    if (rect) {
        const std::optional<QRect> whole = EditRenderer::wholePixelRect(*rect, sourceImage.rect());
        if (!whole || whole->width() < minimumCropSide || whole->height() < minimumCropSide) return;
        const QRectF crop(*whole);
        if (state.crop && sameRect(*state.crop, crop)) return;
        next.crop = crop;
    } else {
        if (!state.crop) return;
        next.crop.reset();
    }
    apply(std::move(next), QStringLiteral("Кадрирование"));
}

bool EditDocument::contains(const EditItem& item) const {
    switch (item.kind) {
    case EditKind::arrow: return holds(state.arrows, item.id);
    case EditKind::frame: return holds(state.frames, item.id);
    case EditKind::highlight: return holds(state.highlights, item.id);
    case EditKind::pixelation: return holds(state.pixelations, item.id);
    }
    return false;
}

std::optional<QUuid> EditDocument::arrowID(QPointF point, double tolerance) const {
    for (auto it = state.arrows.crbegin(); it != state.arrows.crend(); ++it) {
        if (it->distance(point) <= tolerance) return it->id;
    }
    return std::nullopt;
}

std::optional<QUuid> EditDocument::frameID(QPointF point, double tolerance) const {
    const double band = tolerance + EditRenderer::frameThickness(sourceImage.size()) / 2;
    for (auto it = state.frames.crbegin(); it != state.frames.crend(); ++it) {
        const QRectF outer = it->rect.adjusted(-band, -band, band, band);
        if (!inside(outer, point)) continue;
        const QRectF inner = it->rect.adjusted(band, band, -band, -band);
        if (inner.width() <= 0 || inner.height() <= 0 || !inside(inner, point)) return it->id;
    }
    return std::nullopt;
}

std::optional<QUuid> EditDocument::highlightID(QPointF point, double tolerance) const {
    const double reach = tolerance + EditRenderer::highlightThickness(sourceImage.size()) / 2;
    for (auto it = state.highlights.crbegin(); it != state.highlights.crend(); ++it) {
        const QList<QPointF>& points = it->points;
        for (qsizetype i = 1; i < points.size(); ++i) {
            if (distanceFromSegment(point, points[i - 1], points[i]) <= reach) return it->id;
        }
    }
    return std::nullopt;
}

std::optional<QUuid> EditDocument::pixelationID(QPointF point) const {
    for (auto it = state.pixelations.crbegin(); it != state.pixelations.crend(); ++it) {
        if (inside(it->rect, point)) return it->id;
    }
    return std::nullopt;
}

QImage EditDocument::render() const {
    return EditRenderer::render(sourceImage, state.arrows, state.frames, state.highlights, state.pixelations,
                                state.crop);
}

void EditDocument::copyRendered(const std::function<void(const QImage&)>& use) const {
    const QImage image = render();
    if (use) use(image);
}

}  // namespace quillet
