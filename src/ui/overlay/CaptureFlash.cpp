#include "ui/overlay/CaptureFlash.h"

#include <QBackingStore>
#include <QExposeEvent>
#include <QPainter>
#include <QTimer>
#include <QVariantAnimation>

#include <algorithm>
#include <memory>

namespace quillet {

namespace {

// A window with nothing in it but white: the server fills it where it can, else it is drawn.
class FlashWindow : public QWindow {
public:
    explicit FlashWindow(Qt::WindowFlags overlayFlags) {
        // Never key, never main, never in the way: clicks go to the window underneath.
        setFlags(overlayFlags | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint);
        setTitle(QStringLiteral("Quillet"));
    }

    bool filledByServer = false;

protected:
    void exposeEvent(QExposeEvent*) override {
        if (filledByServer || !isExposed()) return;
        if (!store) store = std::make_unique<QBackingStore>(this);
        const QRect all(QPoint(0, 0), size());
        store->resize(all.size());
        store->beginPaint(all);
        QPainter(store->paintDevice()).fillRect(all, Qt::white);
        store->endPaint();
        store->flush(all);
    }

private:
    std::unique_ptr<QBackingStore> store;
};

}  // namespace

CaptureFlash::CaptureFlash(WindowStyling& styling, std::function<bool()> translucent)
    : styling(styling), canBeTranslucent(std::move(translucent)) {}

void CaptureFlash::show(QRectF over) {
    const QRect area = over.toAlignedRect();
    if (over.isEmpty() || area.isEmpty()) return;

    const bool translucent = canBeTranslucent && canBeTranslucent();
    // Made and shown on the event loop's next turn, once the rest of the delivery has gone out:
    // the server then takes the clipboard's new owner before it maps a display-sized window
    // (and a compositor repaints the screen for it). The flash still shows in the same moment.
    QTimer::singleShot(0, &scheduler, [this, area, translucent] { showWindow(area, translucent); });
}

void CaptureFlash::showWindow(QRect area, bool translucent) {
    shown.removeAll(QPointer<QWindow>());
    auto* window = new FlashWindow(styling.overlayFlags());
    window->setGeometry(area);
    window->create();
    window->filledByServer = styling.fillWithColor(window, Qt::white);
    const int frame = std::max(1, std::min(frameWidth, std::min(area.width(), area.height()) / 4));
    const QRect inside(QPoint(0, 0), area.size());
    if (translucent) {
        window->setOpacity(startOpacity);
    } else {
        window->setMask(QRegion(inside) - QRegion(inside.adjusted(frame, frame, -frame, -frame)));
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
                         [window](const QVariant& value) { window->setOpacity(value.toDouble()); });
        QObject::connect(fade, &QVariantAnimation::finished, window, &QObject::deleteLater);
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        auto* timer = new QTimer(window);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, window, &QObject::deleteLater);
        timer->start(duration);
    }
}

QList<QWindow*> CaptureFlash::windows() const {
    QList<QWindow*> list;
    for (const QPointer<QWindow>& window : shown) {
        if (window && window->isVisible()) list << window.data();
    }
    return list;
}

}  // namespace quillet
