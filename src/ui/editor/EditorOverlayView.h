// One transparent layer over the editor canvas: the pixels layer (mosaics and highlighter) or
// the annotations (frames, arrows, selection, crop frame). It draws whatever its canvas says
// for its role and never takes the mouse, so every click reaches the canvas beneath.
#pragma once

#include <QPointer>
#include <QWidget>

namespace quillet {

class EditorCanvasView;

class EditorOverlayView : public QWidget {
    Q_OBJECT
public:
    enum class Role { pixels, annotations };

    EditorOverlayView(EditorCanvasView* canvas, Role role, QWidget* parent);

    Role role() const { return layerRole; }
    // The canvas is gone or closing: draw nothing from now on.
    void detach() { canvas = nullptr; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<EditorCanvasView> canvas;
    Role layerRole;
};

}  // namespace quillet
