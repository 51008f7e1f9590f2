#include "ui/editor/EditorOverlayView.h"

#include "ui/editor/EditorCanvasView.h"

#include <QPainter>

namespace quillet {

EditorOverlayView::EditorOverlayView(EditorCanvasView* canvas, Role role, QWidget* parent)
    : QWidget(parent), canvas(canvas), layerRole(role) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
}

void EditorOverlayView::paintEvent(QPaintEvent*) {
    if (!canvas) return;
    QPainter painter(this);
    if (layerRole == Role::pixels) {
        canvas->drawPixelEdits(painter);
    } else {
        canvas->drawAnnotations(painter);
    }
}

}  // namespace quillet
