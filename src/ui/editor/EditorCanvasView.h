// The editor's drawing surface: the screenshot shrunk to fit (never shown larger than one image
// pixel per device pixel), with arrows, frames, highlighter strokes and pixelated areas drawn by
// the renderer's own functions, so the screen shows what the saved picture will hold. Mouse
// gestures draw, select and move annotations or edit a proposed crop; keys switch tools.
//
//   EditorCanvasView canvas(document, 1.0 / screen->devicePixelRatio());
//   canvas.onStateChange = [&] { refreshToolbar(); };
//   canvas.setTool(EditorCanvasView::Tool::crop);   // ... the user drags the crop ...
//   canvas.commitPendingCrop();                      // now it is one undo step in the document
//
// Three layers, bottom to top: the image, the pixels layer (mosaics and highlighter composited
// over the image) and the annotations (frames, arrows, selection, crop frame). Each finished
// gesture is one change of the document, so one undo step. Main thread only.
#pragma once

#include "editor/CropFrame.h"
#include "editor/EditDocument.h"
#include "editor/EditRenderer.h"
#include "editor/EditShapes.h"

#include <QList>
#include <QMetaObject>
#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <array>
#include <compare>
#include <functional>
#include <map>
#include <optional>
#include <variant>

class QLabel;
class QPainter;

namespace quillet {

class EditorOverlayView;

class EditorCanvasView : public QWidget {
    Q_OBJECT
public:
    enum class Tool { arrow, frame, highlight, pixelation, crop };
    static constexpr std::array<Tool, 5> allTools{Tool::arrow, Tool::frame, Tool::highlight, Tool::pixelation,
                                                  Tool::crop};

    static constexpr double margin = 16;          // points around the image
    static constexpr double hitDistance = 9;      // points: annotations and crop handles
    static constexpr double strokeSpacing = 1.5;  // points between recorded highlighter points

    // `pointsPerPixel` is the largest scale the image is ever shown at (view points per image pixel).
    EditorCanvasView(EditDocument& document, double pointsPerPixel, QWidget* parent = nullptr);
    ~EditorCanvasView() override;

    // Whenever the tool, the selection, the gesture or the document changed.
    std::function<void()> onStateChange;
    std::function<void()> onSave;  // Ctrl+S
    std::function<void()> onCopy;  // Ctrl+C

    Tool tool() const { return currentTool; }
    // Leaving crop mode commits the proposed crop; entering it starts from the document's crop.
    void setTool(Tool tool);

    bool hasSelectedItem() const { return currentTool != Tool::crop && selected.has_value(); }
    std::optional<EditItem> selectedItem() const { return selected; }
    void deleteSelectedItem();

    // The crop proposed in crop mode (image pixels); the whole image when none.
    QRectF pendingCrop() const { return proposedCrop; }
    // Whether the proposed crop differs from the document's (only ever in crop mode).
    bool hasUncommittedCrop() const;
    // In crop mode: the proposed crop becomes the document's crop (the whole image clears it).
    void commitPendingCrop();
    // In crop mode: forgets the proposal, back to the document's crop.
    void discardPendingCrop();

    // Cuts every tie to the document and drops the pictures; the window is closing.
    void teardown();

    // Where the image is shown: the image rectangle on view and in view points, and the scale.
    QRectF visibleRect() const { return geometry.visible; }
    QRectF displayRect() const { return geometry.display; }
    double scale() const { return geometry.scale; }
    QPointF viewPoint(QPointF imagePoint) const;
    QPointF imagePoint(QPointF viewPoint) const;
    QRectF viewRect(const QRectF& imageRect) const;

    // The pixelated areas whose cells are cached: exactly those drawn by the last paint.
    QList<QRectF> cachedMosaicAreas() const;

    // Called by the layers when they paint.
    void drawPixelEdits(QPainter& painter);
    void drawAnnotations(QPainter& painter);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Drawing {
        EditKind kind;
        QPointF start;
        QPointF current;
    };
    struct DrawingHighlight {
        QList<QPointF> points;
    };
    struct Moving {
        EditItem item;
        QPointF origin;
        QPointF delta;
    };
    struct NewCrop {
        QPointF anchor;
    };
    struct ResizingCrop {
        CropHandle handle;
    };
    struct MovingCrop {
        QPointF origin;
        QRectF startRect;
    };
    using Drag = std::variant<Drawing, DrawingHighlight, Moving, NewCrop, ResizingCrop, MovingCrop>;

    struct Geometry {
        QRectF visible;
        QRectF display;
        double scale = 1;
    };

    // The frames or the arrows that stay put during a gesture, drawn once into a picture of
    // the canvas and reused until the document, the geometry or the moved item changes.
    struct AnnotationLayer {
        QImage image;
        quint64 revision = 0;
        QRectF display;
        double scale = 0;
        std::optional<QUuid> excluded;
        bool empty = true;
    };

    struct MosaicAreaKey {
        double x = 0, y = 0, width = 0, height = 0;
        auto operator<=>(const MosaicAreaKey&) const = default;
    };

    void documentChanged();
    void invokeStateChange();
    void updateCanvasGeometry();
    void showImage(const QRectF& visible);
    QRectF imageBounds() const;
    QRectF documentCropOrWhole() const;
    double hitScale() const;
    QPointF clampedInto(QPointF point, const QRectF& rect) const;
    void beginDrawing(QPointF point);
    void beginCrop(QPointF point);
    void finishDrag();
    void redrawLayers();
    bool handlesShortcut(QKeyEvent* event);
    void drawMosaics(QPainter& painter);
    void drawSelection(QPainter& painter);
    const AnnotationLayer& annotationLayer(EditKind kind);
    void drawCropFrame(QPainter& painter);
    QPointF movedDelta(const EditItem& item) const;
    std::optional<QRectF> boundingBox(const EditItem& item) const;
    bool drawsPixels() const;

    QPointer<EditDocument> document;
    QImage source;
    double pointsPerPixel;
    Tool currentTool = Tool::arrow;
    std::optional<EditItem> selected;
    QRectF proposedCrop;
    QRectF cropBeforeDrag;
    std::optional<Drag> drag;
    QLabel* imageView = nullptr;
    EditorOverlayView* pixelsLayer = nullptr;
    EditorOverlayView* overlay = nullptr;
    std::map<MosaicAreaKey, QList<PixelationBlock>> mosaicCache;
    std::optional<QRectF> shownVisible;
    Geometry geometry;
    quint64 documentRevision = 1;
    AnnotationLayer frameLayer;
    AnnotationLayer arrowLayer;
    QMetaObject::Connection documentConnection;
};

}  // namespace quillet
