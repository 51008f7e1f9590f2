#include "app/EditorLauncher.h"

#include "core/Async.h"
#include "core/Signposts.h"
#include "ui/editor/EditorWindow.h"
#include "ui/previews/PreviewStack.h"

namespace quillet {

EditorLauncher::EditorLauncher(Services services, QObject* parent) : QObject(parent), services(std::move(services)) {}

EditorLauncher::~EditorLauncher() {
    for (const QPointer<EditorWindowController>& controller : std::as_const(controllers)) delete controller.data();
}

EditorWindowController* EditorLauncher::controller(const QUuid& screenshotID) const {
    return controllers.value(screenshotID).data();
}

void EditorLauncher::open(const Screenshot& screenshot) {
    if (EditorWindowController* open = controller(screenshot.id)) {
        open->show();
        return;
    }
    if (loading.contains(screenshot.id)) return;
    loading.insert(screenshot.id);

    const MeasuredInterval interval = Signposts::begin(Signposts::openEditor);
    const QString path = services.store.fileURL(screenshot);
    EditorWindowController::loadImage(path).then(this, [this, screenshot, interval](std::optional<QImage> image) {
        loading.remove(screenshot.id);
        if (!image) {
            services.sounds.beep();
            Q_EMIT openFailed(screenshot.id);
            return;
        }
        show(screenshot, *image);
        interval.end();
        Q_EMIT editorOpened(screenshot.id);
    });
}

void EditorLauncher::show(const Screenshot& screenshot, const QImage& image) {
    const QPointer<EditorLauncher> self(this);
    const QUuid sourceID = screenshot.id;
    auto* controller = new EditorWindowController(
        screenshot, std::make_unique<EditDocument>(image),
        [self, sourceID](const QImage& edited, const PNGFuture& png,
                         std::function<void(EditorWindowController::SaveOutcome)> completion) {
            if (self) self->save(sourceID, edited, png, completion);
        },
        [self](const QImage& edited, const PNGFuture& png) {
            if (self) self->copy(edited, png);
        },
        [self] {
            if (self) self->services.sounds.beep();
        },
        services.workArea);
    controller->onClose = [self, sourceID, controller] {
        if (self) self->controllers.remove(sourceID);
        // The controller is still on the stack of its window's close event.
        controller->deleteLater();
    };
    controllers.insert(sourceID, controller);
    controller->show();
}

void EditorLauncher::copy(const QImage& image, const PNGFuture& png) {
    services.clipboard.put(CapturedImage{image, services.desktop.mainDisplayID(), CaptureKind::region}, png);
}

void EditorLauncher::save(const QUuid& sourceID, const QImage& image, const PNGFuture& png,
                          const std::function<void(EditorWindowController::SaveOutcome)>& completion) {
    const CapturedImage captured{image, services.desktop.mainDisplayID(), CaptureKind::region};
    services.clipboard.put(captured, png);
    std::optional<QUuid> previewID;
    const std::shared_ptr<PreviewStack> stack = previews.lock();
    if (stack && services.showPreview()) previewID = stack->showEdited(captured, png, sourceID);

    const std::weak_ptr<PreviewStack> weakStack = previews;
    services.history.recordEdited(image, png, sourceID, [weakStack, previewID, completion](Outcome outcome) {
        const std::shared_ptr<PreviewStack> previewStack = weakStack.lock();
        if (outcome.kind == Outcome::Case::saved) {
            if (previewID && previewStack) previewStack->attach(outcome.screenshot, outcome.fileURL, *previewID);
            if (completion) completion(EditorWindowController::SaveOutcome::success());
        } else {
            if (previewID && previewStack) previewStack->showNotSaved(outcome.message, *previewID);
            if (completion) completion(EditorWindowController::SaveOutcome::failed(outcome.message));
        }
    });
}

}  // namespace quillet
