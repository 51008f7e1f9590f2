#include "ui/editor/EditorCanvasView.h"

#include "ui/editor/EditorOverlayView.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QUndoStack>

#include <cmath>

namespace quillet {

namespace {

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

// X's lock bit in the native modifier state: with Caps Lock on, letters are not tool keys.
constexpr quint32 capsLockMask = 0x2;

// The letter a key press means for our shortcuts. Layouts without Latin letters (Russian) give
// other key codes for the same physical keys, so those are recognised by their X key codes.
int latinKey(const QKeyEvent* event) {
    const int key = event->key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return key;
    switch (event->nativeScanCode()) {
    case 38: return Qt::Key_A;
    case 27: return Qt::Key_R;
    case 43: return Qt::Key_H;
    case 33: return Qt::Key_P;
    case 54: return Qt::Key_C;
    case 39: return Qt::Key_S;
    case 52: return Qt::Key_Z;
    case 25: return Qt::Key_W;
    default: return key;
    }
}

bool capsLockOn(const QKeyEvent* event) { return (event->nativeModifiers() & capsLockMask) != 0; }

Qt::KeyboardModifiers modifiersOf(const QKeyEvent* event) { return event->modifiers() & ~Qt::KeypadModifier; }

QRectF spanned(QPointF a, QPointF b) {
    return QRectF(QPointF(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                  QPointF(std::max(a.x(), b.x()), std::max(a.y(), b.y())));
}

double roundHalfAway(double value) { return std::round(value); }

std::optional<EditKind> kindOf(EditorCanvasView::Tool tool) {
    switch (tool) {
    case EditorCanvasView::Tool::arrow: return EditKind::arrow;
    case EditorCanvasView::Tool::frame: return EditKind::frame;
    case EditorCanvasView::Tool::highlight: return EditKind::highlight;
    case EditorCanvasView::Tool::pixelation: return EditKind::pixelation;
    case EditorCanvasView::Tool::crop: break;
    }
    return std::nullopt;
}

QColor accentColour(const QWidget* widget) { return widget->palette().color(QPalette::Highlight); }

}  // namespace

EditorCanvasView::EditorCanvasView(EditDocument& document, double pointsPerPixel, QWidget* parent)
    : QWidget(parent),
      document(&document),
      source(document.source()),
      pointsPerPixel(pointsPerPixel > 0 ? pointsPerPixel : 1),
      proposedCrop(QRectF(QPointF(0, 0), QSizeF(document.source().size()))),
      cropBeforeDrag(proposedCrop) {
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("Редактируемый снимок"));
    setAttribute(Qt::WA_OpaquePaintEvent);

    imageView = new QLabel(this);
    imageView->setScaledContents(true);
    imageView->setFrameShape(QFrame::NoFrame);
    imageView->setCursor(Qt::CrossCursor);
    imageView->setAccessibleName(QString());
    imageView->setFocusPolicy(Qt::NoFocus);
    pixelsLayer = new EditorOverlayView(this, EditorOverlayView::Role::pixels, this);
    overlay = new EditorOverlayView(this, EditorOverlayView::Role::annotations, this);

    const QPointer<EditorCanvasView> self(this);
    documentConnection = connect(&document, &EditDocument::changed, this, [self] {
        if (self) self->documentChanged();
    });
}

EditorCanvasView::~EditorCanvasView() { disconnect(documentConnection); }

// ---- state --------------------------------------------------------------------------------------

QRectF EditorCanvasView::imageBounds() const { return QRectF(QPointF(0, 0), QSizeF(source.size())); }

QRectF EditorCanvasView::documentCropOrWhole() const {
    if (document && document->crop()) return *document->crop();
    return imageBounds();
}

void EditorCanvasView::setTool(Tool tool) {
    if (tool == currentTool) return;
    if (currentTool == Tool::crop) commitPendingCrop();
    currentTool = tool;
    selected.reset();
    drag.reset();
    if (tool == Tool::crop) proposedCrop = documentCropOrWhole();
    updateCanvasGeometry();
    invokeStateChange();
}

void EditorCanvasView::deleteSelectedItem() {
    if (currentTool == Tool::crop || !selected || !document) return;
    const EditItem item = *selected;
    selected.reset();
    document->remove(item);
    redrawLayers();
    invokeStateChange();
}

bool EditorCanvasView::hasUncommittedCrop() const {
    return currentTool == Tool::crop && !sameRect(proposedCrop, documentCropOrWhole());
}

void EditorCanvasView::commitPendingCrop() {
    if (currentTool != Tool::crop || !document) return;
    if (sameRect(proposedCrop, imageBounds())) {
        document->setCrop(std::nullopt);
    } else {
        document->setCrop(proposedCrop);
    }
    proposedCrop = documentCropOrWhole();
    redrawLayers();
}

void EditorCanvasView::discardPendingCrop() {
    if (currentTool != Tool::crop) return;
    proposedCrop = documentCropOrWhole();
    redrawLayers();
    invokeStateChange();
}

void EditorCanvasView::teardown() {
    disconnect(documentConnection);
    onStateChange = nullptr;
    onSave = nullptr;
    onCopy = nullptr;
    drag.reset();
    imageView->clear();
    shownVisible.reset();
    frameLayer = {};
    arrowLayer = {};
    mosaicCache.clear();
    pixelsLayer->detach();
    overlay->detach();
}

void EditorCanvasView::documentChanged() {
    ++documentRevision;
    if (selected && (!document || !document->contains(*selected))) selected.reset();
    if (currentTool == Tool::crop) proposedCrop = documentCropOrWhole();
    updateCanvasGeometry();
    invokeStateChange();
}

void EditorCanvasView::invokeStateChange() {
    if (auto callback = onStateChange) callback();
}

// ---- geometry -----------------------------------------------------------------------------------

void EditorCanvasView::resizeEvent(QResizeEvent*) { updateCanvasGeometry(); }

void EditorCanvasView::updateCanvasGeometry() {
    const QRectF visible = currentTool == Tool::crop ? imageBounds() : documentCropOrWhole();
    const QRectF bounds(rect());
    const QRectF area = bounds.adjusted(margin, margin, -margin, -margin);
    if (!(area.width() > 0 && area.height() > 0 && visible.width() > 0 && visible.height() > 0)) return;

    const double scale =
        std::min({pointsPerPixel, area.width() / visible.width(), area.height() / visible.height()});
    const QSizeF size(visible.width() * scale, visible.height() * scale);
    const QPointF origin(roundHalfAway(bounds.center().x() - size.width() / 2),
                         roundHalfAway(bounds.center().y() - size.height() / 2));
    geometry = Geometry{visible, QRectF(origin, size), scale};

    imageView->setGeometry(QRect(origin.toPoint(), QSize(qRound(size.width()), qRound(size.height()))));
    showImage(visible);
    pixelsLayer->setGeometry(rect());
    overlay->setGeometry(rect());
    redrawLayers();
}

void EditorCanvasView::showImage(const QRectF& visible) {
    if (shownVisible && sameRect(*shownVisible, visible)) return;
    shownVisible = visible;
    QImage picture = source;
    if (!sameRect(visible, imageBounds())) {
        const QImage cut = source.copy(visible.toAlignedRect());
        if (!cut.isNull()) picture = cut;
    }
    imageView->setPixmap(QPixmap::fromImage(picture));
}

QPointF EditorCanvasView::viewPoint(QPointF p) const {
    const Geometry& g = geometry;
    return {g.display.left() + (p.x() - g.visible.left()) * g.scale, g.display.top() + (p.y() - g.visible.top()) * g.scale};
}

QPointF EditorCanvasView::imagePoint(QPointF p) const {
    const Geometry& g = geometry;
    if (!(g.scale > 0)) return {0, 0};
    return {g.visible.left() + (p.x() - g.display.left()) / g.scale, g.visible.top() + (p.y() - g.display.top()) / g.scale};
}

QRectF EditorCanvasView::viewRect(const QRectF& r) const {
    return QRectF(viewPoint(r.topLeft()), QSizeF(r.width() * geometry.scale, r.height() * geometry.scale));
}

double EditorCanvasView::hitScale() const { return std::max(geometry.scale, 0.0001); }

QPointF EditorCanvasView::clampedInto(QPointF p, const QRectF& r) const {
    return {std::clamp(p.x(), r.left(), r.right()), std::clamp(p.y(), r.top(), r.bottom())};
}

// ---- mouse --------------------------------------------------------------------------------------

void EditorCanvasView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !document) return;
    setFocus(Qt::MouseFocusReason);
    const QPointF p = imagePoint(event->position());
    if (currentTool == Tool::crop) {
        beginCrop(p);
    } else {
        beginDrawing(p);
    }
    redrawLayers();
}

void EditorCanvasView::beginDrawing(QPointF p) {
    const EditKind kind = *kindOf(currentTool);
    const double tolerance = hitDistance / hitScale();
    std::optional<QUuid> hit;
    switch (kind) {
    case EditKind::arrow: hit = document->arrowID(p, tolerance); break;
    case EditKind::frame: hit = document->frameID(p, tolerance); break;
    case EditKind::highlight: hit = document->highlightID(p, tolerance); break;
    case EditKind::pixelation: hit = document->pixelationID(p); break;
    }
    if (hit) {
        selected = EditItem{kind, *hit};
        drag = Moving{*selected, p, QPointF(0, 0)};
    } else {
        selected.reset();
        const QPointF start = clampedInto(p, geometry.visible);
        if (kind == EditKind::highlight) {
            drag = DrawingHighlight{{start}};
        } else {
            drag = Drawing{kind, start, start};
        }
    }
    invokeStateChange();
}

void EditorCanvasView::beginCrop(QPointF p) {
    cropBeforeDrag = proposedCrop;
    if (auto handle = CropFrame::handle(p, proposedCrop, hitDistance / hitScale())) {
        drag = ResizingCrop{*handle};
    } else if (!sameRect(proposedCrop, imageBounds()) && proposedCrop.contains(p)) {
        drag = MovingCrop{p, proposedCrop};
    } else {
        const QPointF anchor = clampedInto(p, imageBounds());
        drag = NewCrop{anchor};
        proposedCrop = QRectF(anchor, QSizeF(0, 0));
    }
}

void EditorCanvasView::mouseMoveEvent(QMouseEvent* event) {
    if (!drag || !(event->buttons() & Qt::LeftButton)) return;
    const QPointF p = imagePoint(event->position());
    const QRectF bounds = imageBounds();
    std::visit(Overloaded{
                   [&](Drawing& d) { d.current = clampedInto(p, geometry.visible); },
                   [&](DrawingHighlight& d) {
                       const QPointF point = clampedInto(p, geometry.visible);
                       const QPointF last = d.points.last();
                       if (std::hypot(point.x() - last.x(), point.y() - last.y()) >= strokeSpacing / hitScale())
                           d.points.append(point);
                   },
                   [&](Moving& d) { d.delta = p - d.origin; },
                   [&](NewCrop& d) { proposedCrop = CropFrame::rect(d.anchor, p, bounds); },
                   [&](ResizingCrop& d) {
                       proposedCrop = CropFrame::resize(proposedCrop, d.handle, p, bounds, EditDocument::minimumCropSide);
                   },
                   [&](MovingCrop& d) { proposedCrop = CropFrame::move(d.startRect, p - d.origin, bounds); },
               },
               *drag);
    redrawLayers();
}

void EditorCanvasView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !drag) return;
    finishDrag();
}

void EditorCanvasView::finishDrag() {
    const Drag finished = *drag;
    drag.reset();
    if (!document) return;
    std::optional<EditItem> added;
    bool adding = false;
    std::visit(Overloaded{
                   [&](const Drawing& d) {
                       adding = true;
                       std::optional<QUuid> id;
                       if (d.kind == EditKind::arrow) id = document->addArrow(d.start, d.current);
                       if (d.kind == EditKind::frame) id = document->addFrame(spanned(d.start, d.current));
                       if (d.kind == EditKind::pixelation) id = document->addPixelation(spanned(d.start, d.current));
                       if (id) added = EditItem{d.kind, *id};
                   },
                   [&](const DrawingHighlight& d) {
                       adding = true;
                       if (auto id = document->addHighlight(d.points)) added = EditItem{EditKind::highlight, *id};
                   },
                   [&](const Moving& d) { document->move(d.item, d.delta); },
                   [&](const NewCrop&) {
                       if (proposedCrop.width() < EditDocument::minimumCropSide ||
                           proposedCrop.height() < EditDocument::minimumCropSide)
                           proposedCrop = cropBeforeDrag;
                   },
                   [&](const ResizingCrop&) {},
                   [&](const MovingCrop&) {},
               },
               finished);
    if (adding) selected = added;
    redrawLayers();
    invokeStateChange();
}

// ---- keys ---------------------------------------------------------------------------------------

bool EditorCanvasView::handlesShortcut(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = modifiersOf(event);
    if (capsLockOn(event)) return false;
    if (modifiers != Qt::ControlModifier && modifiers != (Qt::ControlModifier | Qt::ShiftModifier)) return false;
    const bool shift = modifiers.testFlag(Qt::ShiftModifier);
    switch (latinKey(event)) {
    case Qt::Key_S:
        if (shift) return false;
        if (auto save = onSave) save();
        return true;
    case Qt::Key_C:
        if (shift) return false;
        if (auto copy = onCopy) copy();
        return true;
    case Qt::Key_Z: {
        // Handled even with nothing to undo or redo: no beep, nothing happens.
        if (!document) return true;
        QUndoStack* stack = document->undoManager();
        if (shift) {
            if (stack->canRedo()) stack->redo();
        } else if (stack->canUndo()) {
            stack->undo();
        }
        return true;
    }
    case Qt::Key_W:
        if (shift) return false;
        window()->close();
        return true;
    default: return false;
    }
}

void EditorCanvasView::keyPressEvent(QKeyEvent* event) {
    if (handlesShortcut(event)) {
        event->accept();
        return;
    }
    if (modifiersOf(event) != Qt::NoModifier || capsLockOn(event)) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (currentTool == Tool::crop) setTool(Tool::arrow);
        event->accept();
        return;
    case Qt::Key_Escape:
        if (currentTool == Tool::crop) {
            proposedCrop = documentCropOrWhole();
            setTool(Tool::arrow);
        }
        event->accept();
        return;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        deleteSelectedItem();
        event->accept();
        return;
    default: break;
    }
    switch (latinKey(event)) {
    case Qt::Key_A: setTool(Tool::arrow); break;
    case Qt::Key_R: setTool(Tool::frame); break;
    case Qt::Key_H: setTool(Tool::highlight); break;
    case Qt::Key_P: setTool(Tool::pixelation); break;
    case Qt::Key_C: setTool(Tool::crop); break;
    default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

bool EditorCanvasView::event(QEvent* event) {
    // Ctrl+W, Ctrl+Z and the rest belong to the canvas even if a shortcut elsewhere claims them.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers = modifiersOf(key);
        if (modifiers.testFlag(Qt::ControlModifier) && !capsLockOn(key)) {
            const int letter = latinKey(key);
            if (letter == Qt::Key_S || letter == Qt::Key_C || letter == Qt::Key_Z || letter == Qt::Key_W) {
                event->accept();
                return true;
            }
        }
    }
    return QWidget::event(event);
}

// ---- drawing ------------------------------------------------------------------------------------

void EditorCanvasView::redrawLayers() {
    pixelsLayer->update();
    overlay->update();
}

void EditorCanvasView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().color(QPalette::Window).darker(112));
}

QPointF EditorCanvasView::movedDelta(const EditItem& item) const {
    if (drag) {
        if (const auto* moving = std::get_if<Moving>(&*drag); moving && moving->item == item) return moving->delta;
    }
    return {0, 0};
}

bool EditorCanvasView::drawsPixels() const {
    if (!drag) return false;
    if (std::holds_alternative<DrawingHighlight>(*drag)) return true;
    const auto* drawing = std::get_if<Drawing>(&*drag);
    return drawing && drawing->kind == EditKind::pixelation;
}

void EditorCanvasView::drawPixelEdits(QPainter& painter) {
    if (!document) return;
    if (!drawsPixels() && document->pixelations().isEmpty() && document->highlights().isEmpty()) {
        mosaicCache.clear();
        return;
    }
    // The image view lies right beneath this layer, so the cells replace its pixels and the
    // highlighter multiplies onto them just as they do onto the source when saving.
    painter.save();
    painter.setClipRect(geometry.display);
    drawMosaics(painter);

    QList<QList<QPointF>> strokes;
    for (const EditStroke& stroke : document->highlights()) {
        const QPointF delta = movedDelta({EditKind::highlight, stroke.id});
        QList<QPointF> points;
        points.reserve(stroke.points.size());
        for (QPointF p : stroke.points) points.append(viewPoint(p + delta));
        strokes.append(points);
    }
    if (drag) {
        if (const auto* drawing = std::get_if<DrawingHighlight>(&*drag); drawing && drawing->points.size() >= 2) {
            QList<QPointF> points;
            for (QPointF p : drawing->points) points.append(viewPoint(p));
            strokes.append(points);
        }
    }
    if (!strokes.isEmpty())
        EditRenderer::drawHighlights(strokes, EditRenderer::highlightThickness(source.size()) * geometry.scale, painter);
    painter.restore();
}

void EditorCanvasView::drawMosaics(QPainter& painter) {
    QList<QRectF> areas;
    for (const EditRectangle& area : document->pixelations())
        areas.append(area.rect.translated(movedDelta({EditKind::pixelation, area.id})));
    if (drag) {
        if (const auto* drawing = std::get_if<Drawing>(&*drag); drawing && drawing->kind == EditKind::pixelation) {
            const QRectF rect = spanned(drawing->start, drawing->current);
            if (rect.width() >= EditDocument::minimumShapeSide && rect.height() >= EditDocument::minimumShapeSide)
                areas.append(rect);
        }
    }
    const int blockSize = EditRenderer::pixelationBlockSize(source.size());
    std::map<MosaicAreaKey, QList<PixelationBlock>> cache;
    for (const QRectF& area : areas) {
        const MosaicAreaKey key{area.x(), area.y(), area.width(), area.height()};
        auto found = cache.find(key);
        if (found == cache.end()) {
            auto previous = mosaicCache.find(key);
            found = cache.emplace(key, previous != mosaicCache.end()
                                           ? previous->second
                                           : EditRenderer::pixelationBlocks(source, area, blockSize))
                        .first;
        }
        QList<PixelationBlock> cells;
        cells.reserve(found->second.size());
        for (const PixelationBlock& block : found->second) {
            // Whole points on screen, so neighbouring cells leave no seams.
            const QRectF r = viewRect(block.rect);
            cells.append({QRectF(QPointF(std::floor(r.left()), std::floor(r.top())),
                                 QPointF(std::ceil(r.right()), std::ceil(r.bottom()))),
                          block.color});
        }
        EditRenderer::drawPixelation(cells, painter);
    }
    mosaicCache = std::move(cache);
}

QList<QRectF> EditorCanvasView::cachedMosaicAreas() const {
    QList<QRectF> areas;
    for (const auto& [key, cells] : mosaicCache) areas.append(QRectF(key.x, key.y, key.width, key.height));
    return areas;
}

const EditorCanvasView::AnnotationLayer& EditorCanvasView::annotationLayer(EditKind kind) {
    AnnotationLayer& layer = kind == EditKind::frame ? frameLayer : arrowLayer;
    std::optional<QUuid> excluded;
    if (drag) {
        if (const auto* moving = std::get_if<Moving>(&*drag); moving && moving->item.kind == kind)
            excluded = moving->item.id;
    }
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (layer.revision == documentRevision && sameRect(layer.display, geometry.display) && layer.scale == geometry.scale &&
        layer.excluded == excluded && (layer.empty || (layer.image.size() == pixels && layer.image.devicePixelRatio() == ratio)))
        return layer;

    layer.revision = documentRevision;
    layer.display = geometry.display;
    layer.scale = geometry.scale;
    layer.excluded = excluded;
    const qsizetype count = kind == EditKind::frame ? document->frames().size() : document->arrows().size();
    layer.empty = count == 0 || (count == 1 && excluded);
    if (layer.empty) {
        layer.image = QImage();
        return layer;
    }
    if (layer.image.size() != pixels) layer.image = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    layer.image.setDevicePixelRatio(ratio);
    layer.image.fill(Qt::transparent);
    QPainter painter(&layer.image);
    painter.setClipRect(geometry.display);
    const QSize imageSize = source.size();
    if (kind == EditKind::frame) {
        const double thickness = EditRenderer::frameThickness(imageSize) * geometry.scale;
        for (const EditRectangle& frame : document->frames())
            if (frame.id != excluded) EditRenderer::drawFrame(viewRect(frame.rect), thickness, painter);
    } else {
        const double thickness = EditRenderer::arrowThickness(imageSize) * geometry.scale;
        for (const EditArrow& arrow : document->arrows())
            if (arrow.id != excluded) EditRenderer::drawArrow(viewPoint(arrow.start), viewPoint(arrow.end), thickness, painter);
    }
    return layer;
}

void EditorCanvasView::drawAnnotations(QPainter& painter) {
    if (!document) return;
    const QSize imageSize = source.size();
    painter.save();
    painter.setClipRect(geometry.display);
    // What stays put comes from the layers; the item being moved and the one being drawn are
    // painted afresh above them.
    const Moving* moving = drag ? std::get_if<Moving>(&*drag) : nullptr;
    const double frameThickness = EditRenderer::frameThickness(imageSize) * geometry.scale;
    if (const AnnotationLayer& frames = annotationLayer(EditKind::frame); !frames.empty)
        painter.drawImage(QPointF(0, 0), frames.image);
    if (moving && moving->item.kind == EditKind::frame) {
        for (const EditRectangle& frame : document->frames())
            if (frame.id == moving->item.id)
                EditRenderer::drawFrame(viewRect(frame.rect.translated(moving->delta)), frameThickness, painter);
    }
    const Drawing* drawing = drag ? std::get_if<Drawing>(&*drag) : nullptr;
    if (drawing && drawing->kind == EditKind::frame) {
        const QRectF rect = spanned(drawing->start, drawing->current);
        if (rect.width() >= EditDocument::minimumShapeSide && rect.height() >= EditDocument::minimumShapeSide)
            EditRenderer::drawFrame(viewRect(rect), frameThickness, painter);
    }
    const double arrowThickness = EditRenderer::arrowThickness(imageSize) * geometry.scale;
    if (const AnnotationLayer& arrows = annotationLayer(EditKind::arrow); !arrows.empty)
        painter.drawImage(QPointF(0, 0), arrows.image);
    if (moving && moving->item.kind == EditKind::arrow) {
        for (const EditArrow& arrow : document->arrows())
            if (arrow.id == moving->item.id)
                EditRenderer::drawArrow(viewPoint(arrow.start + moving->delta), viewPoint(arrow.end + moving->delta),
                                        arrowThickness, painter);
    }
    if (drawing && drawing->kind == EditKind::arrow) {
        const QPointF d = drawing->current - drawing->start;
        if (std::hypot(d.x(), d.y()) >= EditDocument::minimumArrowLength)
            EditRenderer::drawArrow(viewPoint(drawing->start), viewPoint(drawing->current), arrowThickness, painter);
    }
    painter.restore();

    if (currentTool == Tool::crop) {
        drawCropFrame(painter);
    } else {
        drawSelection(painter);
    }
}

std::optional<QRectF> EditorCanvasView::boundingBox(const EditItem& item) const {
    const QSize imageSize = source.size();
    switch (item.kind) {
    case EditKind::arrow: break;
    case EditKind::frame:
        for (const EditRectangle& frame : document->frames()) {
            if (frame.id != item.id) continue;
            const double half = EditRenderer::frameThickness(imageSize) / 2;
            return frame.rect.adjusted(-half, -half, half, half);
        }
        break;
    case EditKind::highlight:
        for (const EditStroke& stroke : document->highlights()) {
            if (stroke.id != item.id || stroke.points.isEmpty()) continue;
            QRectF bounds(stroke.points.first(), QSizeF(0, 0));
            for (QPointF p : stroke.points) bounds = bounds.united(QRectF(p, QSizeF(0, 0)));
            const double half = EditRenderer::highlightThickness(imageSize) / 2;
            return bounds.adjusted(-half, -half, half, half);
        }
        break;
    case EditKind::pixelation:
        for (const EditRectangle& area : document->pixelations())
            if (area.id == item.id) return area.rect;
        break;
    }
    return std::nullopt;
}

void EditorCanvasView::drawSelection(QPainter& painter) {
    if (!selected) return;
    const QPointF delta = movedDelta(*selected);
    const QColor accent = accentColour(this);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (selected->kind == EditKind::arrow) {
        for (const EditArrow& arrow : document->arrows()) {
            if (arrow.id != selected->id) continue;
            for (QPointF end : {arrow.start, arrow.end}) {
                const QRectF circle(viewPoint(end + delta) - QPointF(5, 5), QSizeF(10, 10));
                painter.setPen(Qt::NoPen);
                painter.setBrush(Qt::white);
                painter.drawEllipse(circle);
                painter.setBrush(Qt::NoBrush);
                painter.setPen(QPen(accent, 2));
                painter.drawEllipse(circle.adjusted(1, 1, -1, -1));
            }
        }
    } else if (auto box = boundingBox(*selected)) {
        const QRectF r = viewRect(box->translated(delta)).adjusted(-4, -4, 4, 4);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::white, 3));
        painter.drawRect(r);
        QPen dashed(accent, 1.5);
        // Qt counts dashes in pen widths: 5 points on, 4 off.
        dashed.setDashPattern({5 / 1.5, 4 / 1.5});
        painter.setPen(dashed);
        painter.drawRect(r);
    }
    painter.restore();
}

void EditorCanvasView::drawCropFrame(QPainter& painter) {
    const QRectF c = viewRect(proposedCrop);
    painter.save();
    QPainterPath outside;
    outside.setFillRule(Qt::OddEvenFill);
    outside.addRect(geometry.display);
    outside.addRect(c);
    painter.fillPath(outside, QColor(0, 0, 0, 128));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::white, 1.5));
    painter.drawRect(c);
    painter.setPen(QPen(QColor(0, 0, 0, 153), 0.5));
    painter.drawRect(c.adjusted(-1, -1, 1, 1));
    painter.setPen(QPen(QColor(0, 0, 0, 179), 1));
    painter.setBrush(Qt::white);
    for (CropHandle handle : allCropHandles) {
        const QPointF centre = viewPoint(CropFrame::point(handle, proposedCrop));
        painter.drawRect(QRectF(centre - QPointF(4, 4), QSizeF(8, 8)));
    }
    painter.restore();
}

}  // namespace quillet
