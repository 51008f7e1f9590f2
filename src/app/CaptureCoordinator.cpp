#include "app/CaptureCoordinator.h"

#include "app/CaptureGeometry.h"
#include "core/Async.h"
#include "core/Logging.h"

#include <QPointer>

#include <utility>

namespace quillet {

CaptureCoordinator::CaptureCoordinator(Services services, QObject* parent)
    : QObject(parent), services(std::move(services)) {}

void CaptureCoordinator::warmUp() {
    if (services.desktop.screenRecordingGranted()) (void)services.capturer.warmUp();
}

void CaptureCoordinator::captureRegion() {
    if (regionSelection) return;  // a second request while selecting is ignored
    if (!services.desktop.screenRecordingGranted()) {
        services.permissions.showWindow();
        return;
    }
    const MeasuredInterval toOverlay = Signposts::begin(Signposts::triggerToOverlay);
    // Stored before anything shows, so a request arriving while the overlay opens is ignored.
    auto controller = services.makeRegionSelection();
    regionSelection = controller;
    const QList<CapturableWindow> windows = services.capturer.onScreenWindows(services.desktop.processID());
    controller->show(windows);
    controller->whenFirstFramePainted([toOverlay] { toOverlay.end(); });

    // The content refresh runs alongside the overlay, never before it.
    runOnMainThread(this, [this] { (void)services.capturer.refreshContent(); });
    // The continuation holds the controller weakly: the controller owns the promise whose
    // continuation this is, and Qt must never be left destroying that promise from inside it.
    std::weak_ptr<RegionSelecting> weakController = controller;
    controller->selection().then(this, [this, weakController, windows](std::optional<RegionSelection> selection) {
        regionSelected(weakController.lock(), selection, windows);
    });
}

void CaptureCoordinator::regionSelected(const std::shared_ptr<RegionSelecting>& controller,
                                        const std::optional<RegionSelection>& selection,
                                        const QList<CapturableWindow>& windows) {
    if (controller && regionSelection == controller) {
        // Released on a later turn of the event loop, outside anything the overlay still runs.
        runOnMainThread(this, [finished = std::exchange(regionSelection, nullptr)] {});
    }
    if (!selection) return;  // cancelled: no log, no sound

    const MeasuredInterval toReady = Signposts::begin(Signposts::captureToReady);
    std::optional<QRectF> flashArea;
    QFuture<CaptureResult> capture;
    const QList<ScreenInfo> screens = services.desktop.screens();
    if (selection->kind == RegionSelection::Case::rect) {
        if (auto frame = CaptureGeometry::screenFrame(selection->screen, screens, services.desktop.mainDisplayID())) {
            flashArea = CaptureGeometry::regionInScreenSpace(selection->rect, *frame);
        }
        capture = services.capturer.captureRegion(selection->rect, selection->screen);
    } else {
        for (const CapturableWindow& window : windows) {
            if (window.id == selection->windowID) {
                flashArea = CaptureGeometry::windowFrameInScreenSpace(window.frame, screens);
                break;
            }
        }
        capture = services.capturer.captureWindow(selection->windowID);
    }
    capture.then(this, [this, flashArea, toReady](CaptureResult result) {
        if (result) {
            deliver(*result, flashArea, toReady);
        } else {
            fail(result.error(), "Снимок не удался: %1");
        }
    });
}

void CaptureCoordinator::captureFullScreen() {
    if (regionSelection) regionSelection->finish(std::nullopt);
    if (!services.desktop.screenRecordingGranted()) {
        services.permissions.showWindow();
        return;
    }
    const MeasuredInterval toReady = Signposts::begin(Signposts::captureToReady);
    // The pointer is read now, before anything waits.
    const QPointF point =
        CaptureGeometry::cursorInDisplayCoordinates(services.desktop.cursorPosition(), services.desktop.screens());
    services.capturer.captureFullScreen(point).then(this, [this, toReady](CaptureResult result) {
        if (!result) {
            fail(result.error(), "Снимок экрана не удался: %1");
            return;
        }
        const auto frame =
            CaptureGeometry::screenFrame(result->screenID, services.desktop.screens(), services.desktop.mainDisplayID());
        deliver(*result, frame, toReady);
    });
}

void CaptureCoordinator::deliver(const CapturedImage& image, std::optional<QRectF> flashArea,
                                 const MeasuredInterval& toReady) {
    if (flashArea) services.flash.show(*flashArea);
    const PNGFuture png(image.image);
    services.clipboard.put(image, png);
    png.value().then(this, [toPasteable = toReady.alsoAs(Signposts::captureToPasteable)](const QByteArray&) {
        toPasteable.end();
    });

    std::optional<QUuid> previewID;
    if (services.settings.current().showPreview && previews) previewID = previews->show(image, png);

    if (history) {
        QPointer<CaptureCoordinator> self(this);
        history->record(image, png, [self, previewID](const Outcome& outcome) {
            if (!previewID || !self || !self->previews) return;
            if (outcome.kind == Outcome::Case::saved) {
                self->previews->attach(outcome.screenshot, outcome.fileURL, *previewID);
            } else {
                self->previews->showNotSaved(outcome.message, *previewID);
            }
        });
    }
    toReady.end();
    if (services.settings.current().playShutterSound) services.sounds.playShutter();
    if (onDelivered) onDelivered();
}

void CaptureCoordinator::fail(CaptureError error, const char* text) {
    qCCritical(lcCapture).noquote() << QString::fromUtf8(text).arg(describe(error));
    services.sounds.beep();
    if (!services.desktop.screenRecordingGranted()) services.permissions.showWindow();
}

}  // namespace quillet
