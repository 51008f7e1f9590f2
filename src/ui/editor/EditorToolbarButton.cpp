#include "ui/editor/EditorToolbarButton.h"

#include "ui/widgets/SymbolImage.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace quillet {

EditorToolbarButton::EditorToolbarButton(const QString& title, const QString& symbolName, const QString& shortcut,
                                         QWidget* parent)
    : QWidget(parent), titleText(title), symbol(symbolName) {
    setFixedSize(side, side);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setToolTip(title + QStringLiteral(" — ") + shortcut);
    setAccessibleName(title);
    setAccessibleDescription(toolTip());
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    confirmationTimer.setSingleShot(true);
    confirmationTimer.setTimerType(Qt::PreciseTimer);
    confirmationTimer.setInterval(confirmationDuration);
    connect(&confirmationTimer, &QTimer::timeout, this, [this] {
        confirming = false;
        update();
    });
}

void EditorToolbarButton::setEnabledButton(bool value) {
    if (enabled == value) return;
    enabled = value;
    hovered = false;
    if (!enabled) pressed = false;
    update();
}

void EditorToolbarButton::setActive(bool value) {
    if (active == value) return;
    active = value;
    update();
}

void EditorToolbarButton::showConfirmation() {
    confirming = true;
    update();
    confirmationTimer.start();
}

void EditorToolbarButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (enabled) {
        pressed = true;
        update();
    }
}

void EditorToolbarButton::mouseMoveEvent(QMouseEvent* event) {
    if (!enabled || !(event->buttons() & Qt::LeftButton)) return;
    const bool inside = rect().contains(event->position().toPoint());
    if (inside != pressed) {
        pressed = inside;
        update();
    }
}

void EditorToolbarButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const bool fire = pressed && enabled;
    pressed = false;
    update();
    if (fire) {
        if (auto press = onPress) press();
    }
}

void EditorToolbarButton::enterEvent(QEnterEvent*) {
    hovered = enabled;
    update();
}

void EditorToolbarButton::leaveEvent(QEvent*) {
    hovered = false;
    update();
}

void EditorToolbarButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(rect());
    const QColor label = palette().color(QPalette::WindowText);
    const QColor accent = palette().color(QPalette::Highlight);
    auto withAlpha = [](QColor colour, double alpha) {
        colour.setAlphaF(colour.alphaF() * alpha);
        return colour;
    };

    std::optional<QColor> background;
    if (pressed) {
        background = withAlpha(label, 0.18);
    } else if (active) {
        background = withAlpha(accent, 0.3);
    } else if (hovered) {
        background = withAlpha(label, 0.09);
    }
    if (background) {
        QPainterPath shape;
        shape.addRoundedRect(bounds, 7, 7);
        painter.fillPath(shape, *background);
    }
    if (active) {
        painter.setPen(QPen(withAlpha(accent, 0.7), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), 6.5, 6.5);
    }

    const QColor ink = enabled ? label : withAlpha(label, 0.3);
    const QString name = confirming ? QStringLiteral("checkmark") : symbol;
    if (auto glyph = SymbolImage::render(name, glyphSize, ink, devicePixelRatioF())) {
        // The centre of the visible ink, not of the glyph's box, sits on the button's centre.
        const QPointF origin = bounds.center() - glyph->ink.center();
        painter.drawImage(QPointF(std::round(origin.x() * devicePixelRatioF()) / devicePixelRatioF(),
                                  std::round(origin.y() * devicePixelRatioF()) / devicePixelRatioF()),
                          glyph->image);
    }
}

}  // namespace quillet
