// One display's part of the region overlay: the display frozen as it was when the capture was
// asked for, dimmed, with a clear hole where the user drags a rectangle or over the window under
// the pointer, a size label in pixels next to the pointer, and the crosshair cursor. It decides
// what a press, drag and release mean and reports the outcome through `onFinish`:
//
//   drag of at least 4 × 4 points   → rect (display-local, whole numbers) on this display
//   click (under 3 × 3 points)       → window(id) of the front-most window under it, else nothing
//   Escape, right click, thin drag   → nothing
//
// View coordinates are display-local: origin at the display's top-left corner, y downward,
// points. Main thread only.
#pragma once

#include "core/CapturePipeline.h"

#include <QImage>
#include <QWidget>

#include <functional>
#include <optional>

namespace quillet {

class RegionSelectionView : public QWidget {
    Q_OBJECT
public:
    struct WindowFrame {
        std::uint32_t id = 0;
        QRectF frame;  // view coordinates, clipped to the display
        friend bool operator==(const WindowFrame&, const WindowFrame&) = default;
    };

    static constexpr double clickTolerance = 3.0;
    static constexpr double minimumSide = 4.0;
    static constexpr double dimAlpha = 0.3;

    explicit RegionSelectionView(QWidget* parent = nullptr);
    RegionSelectionView(std::uint32_t displayID, QRectF bounds, double scale, QImage frozen,
                        const QList<CapturableWindow>& windows, QWidget* parent = nullptr);

    // Sets the view up for a new selection: `bounds` is the display in global display space,
    // `frozen` its pixels (may be null, then the display is drawn black), `windows` front-most
    // first in global display space. Whatever the last selection left is dropped.
    void prepare(std::uint32_t displayID, QRectF bounds, double scale, QImage frozen,
                 const QList<CapturableWindow>& windows);
    // Lets go of the frozen frame while the view is put away.
    void release();

    // Called once with the outcome; does nothing until set.
    std::function<void(std::optional<RegionSelection>)> onFinish = [](std::optional<RegionSelection>) {};
    // Called once after the next frame has been painted and handed to the server; then cleared.
    std::function<void()> onNextFramePainted;

    std::uint32_t displayID() const { return display; }
    double scale() const { return pixelScale; }
    const QList<WindowFrame>& windowFrames() const { return frames; }
    std::optional<WindowFrame> hoveredWindow() const { return hovered; }
    // The rectangle being dragged, in view coordinates.
    std::optional<QRectF> selection() const;
    // Where the size label is drawn and what it says, while dragging.
    std::optional<QRectF> sizeLabelRect() const;
    QString sizeLabelText() const;

    // The windows that show on the display `bounds`, clipped to it, in view coordinates.
    static QList<WindowFrame> framesOnDisplay(const QList<CapturableWindow>& windows, QRectF bounds);
    // "1280 × 720": a size in points as pixels at `scale`.
    static QString sizeText(QSizeF points, double scale);
    // The rectangle two view points span, made whole: origin rounded down, far edges up.
    static QRectF integralRect(QPointF a, QPointF b);
    // Sets the hovered window as the pointer at `point` (view coordinates) would.
    void hoverAt(QPointF point);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPointF clamped(QPointF point) const;
    // The clear rectangle: the selection while dragging, else the hovered window.
    std::optional<QRectF> hole() const;
    // Repaints what changed between the state before (its hole and label) and now.
    void changed(std::optional<QRectF> oldHole, std::optional<QRectF> oldLabel, std::optional<QRectF> oldHover);
    void finish(std::optional<RegionSelection> result);

    std::uint32_t display = 0;
    double pixelScale = 1.0;
    QImage frozen;
    QList<WindowFrame> frames;
    std::optional<QPointF> dragStart;
    std::optional<QPointF> dragCurrent;
    std::optional<WindowFrame> hovered;
    QColor accent;
    QFont labelFont;
};

}  // namespace quillet
