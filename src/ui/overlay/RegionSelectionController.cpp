#include "ui/overlay/RegionSelectionController.h"

#include "core/Logging.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

namespace quillet {

namespace {

constexpr int grabRetryMilliseconds = 10;
constexpr int grabAttemptLimit = 100;

}  // namespace

RegionSelectionController::RegionSelectionController(ScreenFreezing& freezer, DisplayIdentifying& displays,
                                                     std::shared_ptr<RegionSelectionPanels> panels, QObject* parent)
    : QObject(parent),
      freezer(freezer),
      displays(displays),
      panelStore(panels ? std::move(panels) : std::make_shared<RegionSelectionPanels>()) {
    grabRetry.setInterval(grabRetryMilliseconds);
    connect(&grabRetry, &QTimer::timeout, this, &RegionSelectionController::grabKeyboard);
}

RegionSelectionController::~RegionSelectionController() {
    if (isOpen()) {
        putAway();
        freezer.thaw();
    }
    outcome.finish(std::optional<RegionSelection>());
}

void RegionSelectionController::whenFirstFramePainted(std::function<void()> painted) {
    if (keyPanel) {
        keyPanel->onNextFramePainted = std::move(painted);
    } else {
        painted();
    }
}

void RegionSelectionController::show(const QList<CapturableWindow>& windowsUnderCursor) {
    if (isOpen() || outcome.isFinished()) return;
    const QPoint pointer = QCursor::pos();
    // Before any panel maps: the frozen frame is what the user sees behind the overlay and what
    // the selection is cut from.
    const QList<FrozenDisplay> frozen = freezer.freeze();

    QPointer<RegionSelectionController> self(this);
    for (QScreen* screen : QGuiApplication::screens()) {
        const std::uint32_t id = displays.displayID(screen);
        QImage image;
        for (const FrozenDisplay& display : frozen) {
            if (display.display.id == id) image = display.image;
        }
        const QRect geometry = screen->geometry();
        RegionSelectionView* view = panelStore->panel(screen);
        view->prepare(id, QRectF(geometry), screen->devicePixelRatio(), image, windowsUnderCursor);
        view->setGeometry(geometry);
        view->onFinish = [self](std::optional<RegionSelection> result) {
            if (self) self->finish(result);
        };
        windows << view;
        if (!keyPanel && geometry.contains(pointer)) keyPanel = view;
    }
    if (windows.isEmpty()) {
        // No display to draw on: the selection ends at once rather than never.
        freezer.thaw();
        outcome.finish(std::optional<RegionSelection>());
        return;
    }
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
    putAway();
    if (!result) freezer.thaw();
    outcome.finish(result);
}

void RegionSelectionController::putAway() {
    grabRetry.stop();
    const QList<QPointer<RegionSelectionView>> closing = std::exchange(windows, {});
    for (const QPointer<RegionSelectionView>& view : closing) {
        if (!view) continue;
        // We may be inside one of the view's own event handlers: it is hidden, not deleted.
        view->onFinish = [](std::optional<RegionSelection>) {};
        if (view == keyPanel) view->releaseKeyboard();
        view->hide();
        view->release();
    }
    keyPanel.clear();
}

QList<RegionSelectionView*> RegionSelectionController::panels() const {
    QList<RegionSelectionView*> list;
    for (const QPointer<RegionSelectionView>& view : windows) {
        if (view) list << view.data();
    }
    return list;
}

}  // namespace quillet
