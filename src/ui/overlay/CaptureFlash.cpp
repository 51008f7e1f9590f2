#include "ui/overlay/CaptureFlash.h"

#include <QPainter>
#include <QTimer>
#include <QVariantAnimation>

#include <algorithm>

namespace quillet {

namespace {

class FlashWindow : public QWidget {
public:
    explicit FlashWindow(Qt::WindowFlags overlayFlags) {
        // Never key, never main, never in the way: clicks go to the window underneath.
        setWindowFlags(overlayFlags | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus |
                       Qt::NoDropShadowWindowHint);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_DeleteOnClose);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setWindowTitle(QStringLiteral("Quillet"));
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Qt::white); }
};

}  // namespace

CaptureFlash::CaptureFlash(Qt::WindowFlags overlayFlags, std::function<bool()> translucent)
    : overlayFlags(overlayFlags), canBeTranslucent(std::move(translucent)) {}

void CaptureFlash::show(QRectF over) {
    const QRect area = over.toAlignedRect();
    if (over.isEmpty() || area.isEmpty()) return;
    shown.removeAll(QPointer<QWidget>());

    auto* window = new FlashWindow(overlayFlags);
    window->setGeometry(area);
    const int frame = std::max(1, std::min(frameWidth, std::min(area.width(), area.height()) / 4));
    const bool translucent = canBeTranslucent && canBeTranslucent();
    if (translucent) {
        window->setWindowOpacity(startOpacity);
    } else {
        window->setMask(QRegion(window->rect()) - QRegion(window->rect().adjusted(frame, frame, -frame, -frame)));
    }
    window->show();
    shown << window;

    if (translucent) {
        auto* fade = new QVariantAnimation(window);
        fade->setStartValue(startOpacity);
        fade->setEndValue(0.0);
        fade->setDuration(static_cast<int>(duration.count()));
        fade->setEasingCurve(QEasingCurve::OutQuad);
        QObject::connect(fade, &QVariantAnimation::valueChanged, window,
                         [window](const QVariant& value) { window->setWindowOpacity(value.toDouble()); });
        QObject::connect(fade, &QVariantAnimation::finished, window, &QWidget::close);
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        auto* timer = new QTimer(window);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, window, &QWidget::close);
        timer->start(duration);
    }
}

QList<QWidget*> CaptureFlash::windows() const {
    QList<QWidget*> list;
    for (const QPointer<QWidget>& window : shown) {
        if (window && window->isVisible()) list << window.data();
    }
    return list;
}

}  // namespace quillet
