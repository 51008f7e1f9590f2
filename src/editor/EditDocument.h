// The model behind one editor window: the untouched source image and, over it, the user's
// arrows, frames, highlighter strokes, pixelated areas and an optional crop. Every accepted
// change is one step on the undo stack that swaps whole snapshots of the annotations, under a
// Russian action name ("Стрелка", "Рамка", ...). Degenerate input (too small, off the image,
// no-op moves) is ignored without a trace: nothing stored, no undo step, no `changed`.
//
//   EditDocument document(image);
//   connect(&document, &EditDocument::changed, canvas, &Canvas::documentChanged);
//   auto id = document.addArrow({10, 10}, {200, 80});   // std::nullopt when too short
//   document.undoManager()->undo();                      // the arrow is gone, changed() was emitted
//
// Coordinates are source-image pixels (origin top-left, y downward). Main thread only.
#pragma once

#include "editor/EditArrow.h"
#include "editor/EditShapes.h"

#include <QImage>
#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

class QUndoStack;

namespace quillet {

class EditDocument : public QObject {
    Q_OBJECT
public:
    static constexpr double minimumArrowLength = 8;
    static constexpr double minimumShapeSide = 8;
    static constexpr double minimumHighlightLength = 8;
    static constexpr double minimumCropSide = 8;

    explicit EditDocument(QImage source);
    ~EditDocument();
    EditDocument(const EditDocument&) = delete;
    EditDocument& operator=(const EditDocument&) = delete;

    const QImage& source() const { return sourceImage; }
    // Owned by the document, no limit on levels; each step's text is its action name.
    QUndoStack* undoManager() const { return undoStack.get(); }

    const QList<EditArrow>& arrows() const { return state.arrows; }
    const QList<EditRectangle>& frames() const { return state.frames; }
    const QList<EditStroke>& highlights() const { return state.highlights; }
    const QList<EditRectangle>& pixelations() const { return state.pixelations; }
    const std::optional<QRectF>& crop() const { return state.crop; }
    // Whether the annotations differ from those at the last save (by value: undoing back to
    // the saved annotations makes the document clean again).
    bool isDirty() const { return !(state == savedState); }

    // Each returns the new annotation's id, or nothing when the input is rejected.
    std::optional<QUuid> addArrow(QPointF from, QPointF to);
    // Standardised and cut to the image; rejected when less than the minimum either way.
    std::optional<QUuid> addFrame(const QRectF& rect);
    std::optional<QUuid> addHighlight(const QList<QPointF>& points);
    std::optional<QUuid> addPixelation(const QRectF& rect);

    // In place: the annotation keeps its drawing order. Not limited to the image.
    void move(const EditItem& item, QPointF delta);
    void moveArrow(const QUuid& id, QPointF delta) { move({EditKind::arrow, id}, delta); }
    void remove(const EditItem& item);
    void removeArrow(const QUuid& id) { remove({EditKind::arrow, id}); }
    // A rectangle is extended outward to whole pixels and cut to the image; nothing clears.
    void setCrop(const std::optional<QRectF>& rect);
    void markSaved() { savedState = state; }

    bool contains(const EditItem& item) const;
    // Hit tests; the topmost (last drawn) annotation wins. Frames are hit on their border band
    // only, strokes along their segments, pixelated areas anywhere inside.
    std::optional<QUuid> arrowID(QPointF point, double tolerance) const;
    std::optional<QUuid> frameID(QPointF point, double tolerance) const;
    std::optional<QUuid> highlightID(QPointF point, double tolerance) const;
    std::optional<QUuid> pixelationID(QPointF point) const;

    // The finished picture (see EditRenderer::render): the source itself when untouched.
    QImage render() const;
    // Renders and hands the picture to `use` right away; nothing is kept afterwards.
    void copyRendered(const std::function<void(const QImage&)>& use) const;


Q_SIGNALS:
    // After every change of the annotations, undo and redo included.
    void changed();

private:
    struct State {
        QList<EditArrow> arrows;
        QList<EditRectangle> frames;
        QList<EditStroke> highlights;
        QList<EditRectangle> pixelations;
        std::optional<QRectF> crop;

        bool operator==(const State& other) const;
    };
    class SnapshotCommand;

    // The one way the annotations change: one undo step with the previous snapshot.
    void apply(State newState, const QString& actionName);
    void setState(const State& newState);
    void notifyIfChanged();
    std::optional<QRectF> clippedToImage(const QRectF& rect) const;

    QImage sourceImage;
    State state;
    State savedState;
    bool changePending = false;
    QMetaObject::Connection stackConnection;
    std::unique_ptr<QUndoStack> undoStack;
};

}  // namespace quillet
