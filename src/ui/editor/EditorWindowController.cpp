#include "ui/editor/EditorWindowController.h"

#include "core/Async.h"
#include "core/ImageCodec.h"
#include "platform/WorkAreaQuerying.h"
#include "ui/editor/EditorCanvasView.h"
#include "ui/editor/EditorToolbarButton.h"
#include "ui/editor/EditorToolbarView.h"
#include "ui/editor/EditorWindow.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QUndoStack>
#include <QVBoxLayout>

#include <cmath>

namespace quillet {

namespace {

constexpr int canvasPadding = 32;  // the canvas's 16-point margin on each side

int titleBarHeight() { return QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight); }

}  // namespace

EditorWindowController::EditorWindowController(const Screenshot& screenshot, std::unique_ptr<EditDocument> document,
                                               SaveFunction save, CopyFunction copy, std::function<void()> beep,
                                               WorkAreaQuerying* workArea, QObject* parent)
    : QObject(parent),
      editedScreenshot(screenshot),
      editDocument(std::move(document)),
      saveFunction(std::move(save)),
      copyFunction(std::move(copy)),
      beep(std::move(beep)),
      workArea(workArea) {}

EditorWindowController::~EditorWindowController() {
    if (canvasView) canvasView->teardown();
    if (editorWindow) {
        editorWindow->shouldClose = nullptr;
        editorWindow->onClosed = nullptr;
        delete editorWindow.data();
    }
}

QFuture<std::optional<QImage>> EditorWindowController::loadImage(const QString& path) {
    return runInBackground([path]() -> std::optional<QImage> {
        std::optional<QImage> image = ImageCodec::decodeFile(path);
        if (!image || image->isNull()) return std::nullopt;
        // Formats the screen draws without converting, so the first frame comes quickly.
        const QImage::Format format =
            image->hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
        if (image->format() != format) image->convertTo(format);
        return image;
    });
}

QSize EditorWindowController::contentSize(QSize pixels, const std::optional<ScreenArea>& screen) {
    double scale = 2, maxWidth = 1120, maxHeight = 720;
    int titleBar = 0;
    if (screen) {
        scale = screen->scale > 0 ? screen->scale : 1;
        maxWidth = screen->visibleSize.width() * 0.8 - canvasPadding;
        maxHeight = screen->visibleSize.height() * 0.8;
        titleBar = screen->titleBarHeight;
    }
    const double w = pixels.width() / scale;
    const double h = pixels.height() / scale;
    maxHeight -= titleBar + 44 + canvasPadding;
    double fit = 1;
    if (w > 1) fit = std::min(fit, maxWidth / w);
    if (h > 1) fit = std::min(fit, maxHeight / h);
    fit = std::max(fit, 0.0);
    return QSize(std::max(static_cast<int>(std::floor(w * fit + canvasPadding)), minimumWidth),
                 std::max(static_cast<int>(std::floor(h * fit + canvasPadding + 44)), minimumHeight));
}

void EditorWindowController::show() {
    if (!editorWindow) build();
    editorWindow->show();
    editorWindow->raise();
    editorWindow->activateWindow();
    if (canvasView) canvasView->setFocus(Qt::ActiveWindowFocusReason);
    editorWindow->repaint();
}

void EditorWindowController::build() {
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) screen = QGuiApplication::primaryScreen();
    std::optional<ScreenArea> area;
    QRect visibleFrame;
    if (screen) {
        visibleFrame = workArea ? workArea->visibleFrame(screen) : screen->availableGeometry();
        if (visibleFrame.isEmpty()) visibleFrame = screen->availableGeometry();
        area = ScreenArea{screen->devicePixelRatio(), visibleFrame.size(), titleBarHeight()};
    }
    const QSize content = contentSize(editDocument->source().size(), area);
    // Never more than one image pixel per device pixel.
    const double pointsPerPixel = 1.0 / (screen ? screen->devicePixelRatio() : 2.0);

    auto* window = new EditorWindow;
    editorWindow = window;
    window->setMinimumSize(minimumWidth, minimumHeight);
    window->resize(content);

    auto* toolbar = new EditorToolbarView(window);
    auto* canvas = new EditorCanvasView(*editDocument, pointsPerPixel, window);
    toolbarView = toolbar;
    canvasView = canvas;
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolbar);
    layout->addWidget(canvas, 1);

    const QPointer<EditorWindowController> self(this);
    canvas->onStateChange = [self] {
        if (self) self->refreshControls();
    };
    canvas->onSave = [self] {
        if (self) self->save();
    };
    canvas->onCopy = [self] {
        if (self) self->copy();
    };
    toolbar->onTool = [self](EditorCanvasView::Tool tool) {
        if (self && self->canvasView) self->canvasView->setTool(tool);
    };
    toolbar->onUndo = [self] {
        if (self && self->editDocument->undoManager()->canUndo()) self->editDocument->undoManager()->undo();
    };
    toolbar->onRedo = [self] {
        if (self && self->editDocument->undoManager()->canRedo()) self->editDocument->undoManager()->redo();
    };
    toolbar->onDelete = [self] {
        if (self && self->canvasView) self->canvasView->deleteSelectedItem();
    };
    toolbar->onApplyCrop = [self] {
        if (self && self->canvasView && self->canvasView->tool() == EditorCanvasView::Tool::crop)
            self->canvasView->setTool(EditorCanvasView::Tool::arrow);
    };
    toolbar->onCancelCrop = [self] {
        if (!self || !self->canvasView || self->canvasView->tool() != EditorCanvasView::Tool::crop) return;
        self->canvasView->discardPendingCrop();
        self->canvasView->setTool(EditorCanvasView::Tool::arrow);
    };
    toolbar->onCopy = [self] {
        if (self) self->copy();
    };
    toolbar->onSave = [self] {
        if (self) self->save();
    };
    window->shouldClose = [self] { return !self || self->windowShouldClose(); };
    window->onClosed = [self] {
        if (self) self->windowWillClose();
    };
    window->setFocusProxy(canvas);

    if (screen) {
        // Centred on the screen's visible area, title bar included.
        const QPoint centre = visibleFrame.center();
        window->move(centre.x() - content.width() / 2, centre.y() - (content.height() + area->titleBarHeight) / 2);
    }
    refreshControls();
}

void EditorWindowController::refreshControls() {
    if (!toolbarView) return;
    EditorToolbarView::State state;
    state.tool = canvasView ? canvasView->tool() : EditorCanvasView::Tool::arrow;
    if (!saving) {
        const QUndoStack* stack = editDocument->undoManager();
        state.canUndo = stack->canUndo();
        state.canRedo = stack->canRedo();
        state.canDelete = canvasView && canvasView->hasSelectedItem();
        state.canSave = editDocument->isDirty() || (canvasView && canvasView->hasUncommittedCrop());
    }
    toolbarView->update(state);
}

void EditorWindowController::copy() {
    editDocument->copyRendered([this](const QImage& image) {
        if (copyFunction) copyFunction(image, PNGFuture(image));
    });
    if (toolbarView) toolbarView->copyButton->showConfirmation();
}

void EditorWindowController::save() {
    if (saving) return;
    if (canvasView) canvasView->commitPendingCrop();
    if (!editDocument->isDirty()) {
        if (beep) beep();
        return;
    }
    saving = true;
    refreshControls();
    const QImage image = editDocument->render();
    // One encoding serves the clipboard, the preview and the history.
    const PNGFuture png(image);
    const QPointer<EditorWindowController> self(this);
    auto completion = [self](SaveOutcome outcome) {
        if (!self) return;
        self->saving = false;
        if (outcome.saved) {
            self->editDocument->markSaved();
            if (self->editorWindow) self->editorWindow->close();
        } else {
            self->refreshControls();
            self->showFailure(outcome.reason);
        }
    };
    if (saveFunction) {
        saveFunction(image, png, completion);
    } else {
        completion(SaveOutcome::failed(QString()));
    }
}

bool EditorWindowController::windowShouldClose() {
    if (canvasView) canvasView->commitPendingCrop();
    if (discardsChanges || !editDocument->isDirty()) return !saving;
    if (saving) return false;
    if (shownSheet && shownSheet->isVisible()) return false;
    askToSave();
    return false;
}

void EditorWindowController::askToSave() {
    auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Редактор"),
                                QStringLiteral("Сохранить изменения?"), QMessageBox::NoButton, editorWindow);
    box->setInformativeText(
        QStringLiteral("Исправленный снимок попадёт в буфер обмена и в историю. Исходный снимок не изменится."));
    QPushButton* saveButton = box->addButton(QStringLiteral("Сохранить"), QMessageBox::AcceptRole);
    QPushButton* discardButton = box->addButton(QStringLiteral("Не сохранять"), QMessageBox::DestructiveRole);
    QPushButton* cancelButton = box->addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole);
    box->setDefaultButton(saveButton);
    box->setEscapeButton(cancelButton);
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    const QPointer<EditorWindowController> self(this);
    connect(box, &QMessageBox::finished, this, [self, box, saveButton, discardButton] {
        if (!self) return;
        QAbstractButton* answer = box->clickedButton();
        if (answer == saveButton) {
            self->save();
        } else if (answer == discardButton) {
            self->discardsChanges = true;
            if (self->editorWindow) self->editorWindow->close();
        }
    });
    shownSheet = box;
    box->open();
}

void EditorWindowController::showFailure(const QString& reason) {
    if (!editorWindow) return;
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Редактор"),
                                QStringLiteral("Снимок не записан в историю"), QMessageBox::NoButton, editorWindow);
    box->setInformativeText(QStringLiteral("Он лежит в буфере обмена, но в истории его нет: ") + reason +
                            QStringLiteral(". Окно остаётся открытым, попробуйте ещё раз."));
    box->addButton(QStringLiteral("Понятно"), QMessageBox::AcceptRole);
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    shownSheet = box;
    box->open();
}

void EditorWindowController::windowWillClose() {
    if (canvasView) canvasView->teardown();
    if (EditorWindow* window = editorWindow) {
        window->shouldClose = nullptr;
        window->onClosed = nullptr;
        // Still inside the window's own close event: it goes once that returns.
        window->deleteLater();
    }
    editorWindow = nullptr;
    canvasView = nullptr;
    toolbarView = nullptr;
    if (auto closed = onClose) closed();
}

}  // namespace quillet
