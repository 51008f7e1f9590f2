#include "ui/overlay/RegionSelectionView.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QTimer>

#include <cmath>
#include <utility>

namespace quillet {

namespace {

constexpr double labelGap = 12.0;     // between the pointer and the size label
constexpr double labelMargin = 4.0;   // kept between the label and the display's edges

QRect dirtyRect(const QRectF& rect) { return rect.toAlignedRect().adjusted(-3, -3, 3, 3); }

}  // namespace

RegionSelectionView::RegionSelectionView(QWidget* parent)
    : QWidget(parent), accent(QApplication::palette().color(QPalette::Highlight)) {
    labelFont = QApplication::font();
    labelFont.setPointSizeF(12);
    labelFont.setWeight(QFont::Medium);
    labelFont.setStyleHint(QFont::SansSerif);
    setAttribute(Qt::WA_OpaquePaintEvent);  // every paint covers its whole area
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    setCursor(Qt::CrossCursor);
    setFocusPolicy(Qt::StrongFocus);
}

RegionSelectionView::RegionSelectionView(std::uint32_t displayID, QRectF bounds, double scale, QImage frozenImage,
                                         const QList<CapturableWindow>& windows, QWidget* parent)
    : RegionSelectionView(parent) {
    prepare(displayID, bounds, scale, std::move(frozenImage), windows);
}

void RegionSelectionView::prepare(std::uint32_t displayID, QRectF bounds, double scale, QImage frozenImage,
                                  const QList<CapturableWindow>& windows) {
    display = displayID;
    pixelScale = scale > 0 ? scale : 1.0;
    // Drawn into the view's bounds rather than given a pixel ratio: setting one would copy the
    // whole frame.
    frozen = std::move(frozenImage);
    frames = framesOnDisplay(windows, bounds);
    dragStart.reset();
    dragCurrent.reset();
    hovered.reset();
    resize(bounds.size().toSize());
    update();  // a panel used before must not show its last frame for a moment
}

void RegionSelectionView::release() {
    onNextFramePainted = nullptr;
    frozen = QImage();
    frames.clear();
    hovered.reset();
    dragStart.reset();
    dragCurrent.reset();
}

QList<RegionSelectionView::WindowFrame> RegionSelectionView::framesOnDisplay(const QList<CapturableWindow>& windows,
                                                                           QRectF bounds) {
    QList<WindowFrame> list;
    const QRectF local(QPointF(0, 0), bounds.size());
    for (const CapturableWindow& window : windows) {
        const QRectF clipped = window.frame.translated(-bounds.topLeft()).intersected(local);
        if (clipped.isEmpty()) continue;
        list << WindowFrame{window.id, clipped};
    }
    return list;
}

QString RegionSelectionView::sizeText(QSizeF points, double scale) {
    // std::round: halves away from zero, as every pixel size in the program.
    const auto pixels = [scale](double value) { return static_cast<long long>(std::round(value * scale)); };
    return QStringLiteral("%1 × %2").arg(pixels(points.width())).arg(pixels(points.height()));
}

QRectF RegionSelectionView::integralRect(QPointF a, QPointF b) {
    const double left = std::floor(std::min(a.x(), b.x()));
    const double top = std::floor(std::min(a.y(), b.y()));
    const double right = std::ceil(std::max(a.x(), b.x()));
    const double bottom = std::ceil(std::max(a.y(), b.y()));
    return QRectF(left, top, right - left, bottom - top);
}

std::optional<QRectF> RegionSelectionView::selection() const {
    if (!dragStart || !dragCurrent) return std::nullopt;
    return QRectF(QPointF(std::min(dragStart->x(), dragCurrent->x()), std::min(dragStart->y(), dragCurrent->y())),
                  QSizeF(std::abs(dragCurrent->x() - dragStart->x()), std::abs(dragCurrent->y() - dragStart->y())));
}

std::optional<QRectF> RegionSelectionView::hole() const {
    if (auto rect = selection()) return rect;
    if (hovered) return hovered->frame;
    return std::nullopt;
}

QString RegionSelectionView::sizeLabelText() const {
    const std::optional<QRectF> rect = selection();
    return rect ? sizeText(rect->size(), pixelScale) : QString();
}

std::optional<QRectF> RegionSelectionView::sizeLabelRect() const {
    if (!dragCurrent || !selection()) return std::nullopt;
    const QFontMetricsF metrics(labelFont);
    const QSizeF text = metrics.size(Qt::TextSingleLine, sizeLabelText());
    const QSizeF size(std::ceil(text.width()) + 12, std::ceil(text.height()) + 6);
    // Below and to the right of the pointer, pushed back inside near the right and bottom edges.
    const double x = std::min(dragCurrent->x() + labelGap, width() - size.width() - labelMargin);
    const double y = std::min(dragCurrent->y() + labelGap, height() - size.height() - labelMargin);
    return QRectF(QPointF(x, y), size);
}

QPointF RegionSelectionView::clamped(QPointF point) const {
    return QPointF(std::clamp(point.x(), 0.0, double(width())), std::clamp(point.y(), 0.0, double(height())));
}

void RegionSelectionView::hoverAt(QPointF point) {
    const std::optional<QRectF> oldHole = hole();
    std::optional<WindowFrame> hit;
    for (const WindowFrame& frame : frames) {
        if (frame.frame.contains(point)) {
            hit = frame;
            break;
        }
    }
    if (hit ? (hovered && hovered->id == hit->id) : !hovered) return;
    const std::optional<QRectF> oldHover = hovered ? std::optional<QRectF>(hovered->frame) : std::nullopt;
    hovered = hit;
    changed(oldHole, sizeLabelRect(), oldHover);
}

void RegionSelectionView::changed(std::optional<QRectF> oldHole, std::optional<QRectF> oldLabel,
                                  std::optional<QRectF> oldHover) {
    // Outside the old and the new hole, label and highlight nothing changes: a drag over a 4K
    // display repaints strips, not the screen.
    QRegion dirty;
    for (const std::optional<QRectF>& rect :
         {oldHole, oldLabel, oldHover, hole(), sizeLabelRect(),
          hovered ? std::optional<QRectF>(hovered->frame) : std::nullopt}) {
        if (rect) dirty += dirtyRect(*rect);
    }
    update(dirty);
}

void RegionSelectionView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setClipRegion(event->region());
    const QRectF bounds(rect());
    if (frozen.isNull()) {
        painter.fillRect(bounds, Qt::black);
    } else {
        painter.drawImage(bounds, frozen);
    }

    const std::optional<QRectF> selected = selection();
    const std::optional<QRectF> highlight = selected ? std::nullopt : hole();
    // The dimmed display with a clear hole: even-odd fill of the bounds and the hole.
    QPainterPath dim;
    dim.setFillRule(Qt::OddEvenFill);
    dim.addRect(bounds);
    if (auto clear = hole()) dim.addRect(*clear);
    painter.fillPath(dim, QColor::fromRgbF(0, 0, 0, dimAlpha));

    if (highlight) {
        QColor fill = accent;
        fill.setAlphaF(0.18);
        painter.setPen(QPen(accent, 2));
        painter.setBrush(fill);
        painter.drawRect(highlight->adjusted(1, 1, -1, -1));
    }
    if (selected) {
        painter.setPen(QPen(Qt::white, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(selected->adjusted(-0.5, -0.5, 0.5, 0.5));
    }
    if (const std::optional<QRectF> label = sizeLabelRect()) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.75));
        painter.drawRoundedRect(*label, 4, 4);
        painter.setPen(Qt::white);
        painter.setFont(labelFont);
        painter.drawText(*label, Qt::AlignCenter, sizeLabelText());
    }
    // The backing store is flushed to the server right after painting returns: a queued call
    // runs once the frame is on its way.
    if (onNextFramePainted) QTimer::singleShot(0, this, std::exchange(onNextFramePainted, nullptr));
}

void RegionSelectionView::mouseMoveEvent(QMouseEvent* event) {
    if (dragStart && (event->buttons() & Qt::LeftButton)) {
        const std::optional<QRectF> oldHole = hole();
        const std::optional<QRectF> oldLabel = sizeLabelRect();
        dragCurrent = clamped(event->position());
        changed(oldHole, oldLabel, std::nullopt);
        return;
    }
    hoverAt(event->position());
}

void RegionSelectionView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        finish(std::nullopt);
        return;
    }
    if (event->button() != Qt::LeftButton) return;
    // Nothing is redrawn until the pointer moves: a click must not flash a selection.
    dragStart = clamped(event->position());
    dragCurrent = dragStart;
}

void RegionSelectionView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragStart || !dragCurrent) return;
    const QPointF start = *dragStart;
    const QPointF end = *dragCurrent;
    const std::optional<QRectF> oldHole = hole();
    const std::optional<QRectF> oldLabel = sizeLabelRect();
    const QRectF spanned = *selection();
    dragStart.reset();
    dragCurrent.reset();
    changed(oldHole, oldLabel, std::nullopt);

    if (spanned.width() < clickTolerance && spanned.height() < clickTolerance) {
        // A click picks the front-most window under the pointer, where the button went up.
        for (const WindowFrame& frame : frames) {
            if (frame.frame.contains(event->position())) {
                finish(RegionSelection::window(frame.id));
                return;
            }
        }
        finish(std::nullopt);
        return;
    }
    if (spanned.width() >= minimumSide && spanned.height() >= minimumSide) {
        finish(RegionSelection::rectangle(integralRect(start, end), display));
        return;
    }
    finish(std::nullopt);  // too thin to be meant
}

void RegionSelectionView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape || event->matches(QKeySequence::Cancel)) {
        finish(std::nullopt);
        return;
    }
    event->ignore();
}

void RegionSelectionView::finish(std::optional<RegionSelection> result) {
    // The callback may close this very view; copy it first.
    const auto callback = onFinish;
    callback(result);
}

}  // namespace quillet
