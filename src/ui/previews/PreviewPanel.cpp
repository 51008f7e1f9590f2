#include "ui/previews/PreviewPanel.h"

#include <QPropertyAnimation>

namespace quillet {

PreviewPanel::PreviewPanel(const QImage& thumbnail, bool roundedCard, QWidget* parent)
    : QWidget(parent), roundedCard(roundedCard) {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_AlwaysShowToolTips);  // the panel is never the active window
    // Always a window with an alpha channel, so the card can turn round and translucent when a
    // compositing manager starts; without one the card paints every pixel opaque.
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(cardSize);
    setWindowTitle(QStringLiteral("Превью снимка"));
    setAccessibleName(QStringLiteral("Превью снимка"));

    contentView = new PreviewContentView(thumbnail, roundedCard, this);
    contentView->setGeometry(rect());
    contentView->afterDrag = [this] {
        if (deleteAfterDrag) {
            hide();
            deleteLater();
        }
    };

    // The native window exists from here on, still unmapped, so the owner can tell the desktop
    // what kind of window it is before it first shows.
    (void)winId();
}

void PreviewPanel::setRoundedCard(bool rounded) {
    roundedCard = rounded;
    contentView->setRoundedCard(rounded);
}

void PreviewPanel::clearCallbacks() {
    contentView->actions = PreviewActions();
}

void PreviewPanel::fadeIn(std::chrono::milliseconds duration) {
    setWindowOpacity(0.0);
    show();
    auto* animation = new QPropertyAnimation(this, "windowOpacity", this);
    animation->setDuration(static_cast<int>(duration.count()));
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    fadeAnimation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void PreviewPanel::moveTo(QPoint topLeft, std::chrono::milliseconds duration) {
    target = topLeft;
    if (moveAnimation) moveAnimation->stop();
    if (duration.count() <= 0 || !isVisible() || pos() == topLeft) {
        move(topLeft);
        return;
    }
    auto* animation = new QPropertyAnimation(this, "pos", this);
    animation->setDuration(static_cast<int>(duration.count()));
    animation->setStartValue(pos());
    animation->setEndValue(topLeft);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    moveAnimation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void PreviewPanel::fadeOutAndClose(std::chrono::milliseconds duration) {
    if (closing) return;
    closing = true;
    if (fadeAnimation) fadeAnimation->stop();
    if (!isVisible() || duration.count() <= 0) {
        finishClosing();
        return;
    }
    auto* animation = new QPropertyAnimation(this, "windowOpacity", this);
    animation->setDuration(static_cast<int>(duration.count()));
    animation->setStartValue(windowOpacity());
    animation->setEndValue(0.0);
    connect(animation, &QPropertyAnimation::finished, this, &PreviewPanel::finishClosing);
    fadeAnimation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void PreviewPanel::closeNow() {
    closing = true;
    if (fadeAnimation) fadeAnimation->stop();
    if (moveAnimation) moveAnimation->stop();
    finishClosing();
}

void PreviewPanel::finishClosing() {
    // Hiding or deleting the window under a running drag would pull the drag's source away;
    // the drag's end finishes the job instead.
    if (contentView->isDragging()) {
        deleteAfterDrag = true;
        return;
    }
    hide();
    deleteLater();
}

}  // namespace quillet
