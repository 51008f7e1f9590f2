#include "app/RegionSelectionController.h"

#include "core/Logging.h"
#include "platform/x11/DisplayIdentity.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

namespace quillet {

namespace {

constexpr int grabRetryMilliseconds = 10;
constexpr int grabAttemptLimit = 100;

}  // namespace

RegionSelectionController::RegionSelectionController(ScreenFreezing& freezer, QObject* parent)
    : QObject(parent), freezer(freezer) {
    grabRetry.setInterval(grabRetryMilliseconds);
    connect(&grabRetry, &QTimer::timeout, this, &RegionSelectionController::grabKeyboard);
}

RegionSelectionController::~RegionSelectionController() {
    if (isOpen()) {
        for (const QPointer<RegionSelectionView>& window : windows) delete window.data();
        windows.clear();
        freezer.thaw();
    }
    outcome.finish(std::optional<RegionSelection>());
}

void RegionSelectionController::show(const QList<CapturableWindow>& windowsUnderCursor) {
    if (isOpen() || outcome.isFinished()) return;
    const QPoint pointer = QCursor::pos();
    // Before any panel maps: the frozen frame is what the user sees behind the overlay and what
    // the selection is cut from.
    const QList<FrozenDisplay> frozen = freezer.freeze();

    QPointer<RegionSelectionController> self(this);
    for (QScreen* screen : QGuiApplication::screens()) {
        const std::uint32_t id = DisplayIdentity::displayID(screen);
        QImage image;
        for (const FrozenDisplay& display : frozen) {
            if (display.display.id == id) image = display.image;
        }
        const QRect geometry = screen->geometry();
        auto* view = new RegionSelectionView(id, QRectF(geometry), screen->devicePixelRatio(), image, windowsUnderCursor);
        // Bypassing the window manager: mapped at once, exactly over the display, above panels and
        // full-screen windows, in no task bar, and never given the input focus.
        view->setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                             Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint);
        view->setAttribute(Qt::WA_ShowWithoutActivating);
        view->setWindowTitle(QStringLiteral("Quillet"));
        view->setGeometry(geometry);
        view->onFinish = [self](std::optional<RegionSelection> result) {
            if (self) self->finish(result);
        };
        windows << view;
        if (!keyPanel && geometry.contains(pointer)) keyPanel = view;
    }
    if (windows.isEmpty()) return;
    if (!keyPanel) keyPanel = windows.front();

    for (const QPointer<RegionSelectionView>& view : windows) {
        view->hoverAt(view->mapFromGlobal(QPointF(pointer)));
        view->show();
        view->raise();
    }
    keyPanel->setFocus(Qt::OtherFocusReason);
    grabKeyboard();
}

void RegionSelectionController::grabKeyboard() {
    if (!keyPanel || !isOpen()) {
        grabRetry.stop();
        return;
    }
    keyPanel->grabKeyboard();  // routes Qt's key events to the panel
    QWindow* window = keyPanel->windowHandle();
    if (window && window->setKeyboardGrabEnabled(true)) {
        grabRetry.stop();
        return;
    }
    if (++grabAttempts >= grabAttemptLimit) {
        grabRetry.stop();
        qCWarning(lcCapture) << "the keyboard stays with another program; Escape will not reach the overlay";
        return;
    }
    if (!grabRetry.isActive()) grabRetry.start();
}

QFuture<std::optional<RegionSelection>> RegionSelectionController::selection() { return outcome.future(); }

void RegionSelectionController::finish(std::optional<RegionSelection> result) {
    if (!isOpen()) return;
    grabRetry.stop();
    const QList<QPointer<RegionSelectionView>> closing = std::exchange(windows, {});
    for (const QPointer<RegionSelectionView>& view : closing) {
        if (!view) continue;
        view->onFinish = [](std::optional<RegionSelection>) {};
        if (view == keyPanel) view->releaseKeyboard();
        view->hide();
        view->deleteLater();  // we may be inside one of its own event handlers
    }
    keyPanel.clear();
    if (!result) freezer.thaw();
    outcome.finish(result);
}

QList<RegionSelectionView*> RegionSelectionController::panels() const {
    QList<RegionSelectionView*> list;
    for (const QPointer<RegionSelectionView>& view : windows) {
        if (view) list << view.data();
    }
    return list;
}

}  // namespace quillet
