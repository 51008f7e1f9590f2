// Owns one editor window: the canvas under its toolbar, the toolbar's states kept current, copy
// and save, and the question before unsaved changes are thrown away. Saving hands the rendered
// picture and its one PNG encoding to the launcher's `save`, which puts it on the clipboard and
// records it as a new screenshot; the window closes when that succeeded and stays open, with
// every edit, when it did not.
//
//   auto controller = new EditorWindowController(screenshot, std::move(document), save, copy, beep);
//   controller->onClose = [&] { forget(controller); };
//   controller->show();
//
// Main thread only; loadImage() decodes on the thread pool.
#pragma once

#include "core/PNGFuture.h"
#include "core/Types.h"
#include "editor/EditDocument.h"
#include "ui/editor/EditorCanvasView.h"
#include "ui/editor/EditorToolbarView.h"
#include "ui/editor/EditorWindow.h"

#include <QFuture>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include <QMessageBox>

namespace quillet {

class WorkAreaQuerying;

class EditorWindowController : public QObject {
    Q_OBJECT
public:
    struct SaveOutcome {
        bool saved = false;
        QString reason;  // why it failed
        static SaveOutcome success() { return {true, {}}; }
        static SaveOutcome failed(const QString& reason) { return {false, reason}; }
    };
    using SaveFunction = std::function<void(const QImage&, const PNGFuture&, std::function<void(SaveOutcome)>)>;
    using CopyFunction = std::function<void(const QImage&, const PNGFuture&)>;

    // What the window's size is fitted to: the screen's scale and its visible area.
    struct ScreenArea {
        double scale = 1;
        QSize visibleSize;
        int titleBarHeight = 0;
    };

    static constexpr int minimumWidth = 480;
    static constexpr int minimumHeight = 320;

    // `workArea`, when given, says where on the screen the window may go.
    EditorWindowController(const Screenshot& screenshot, std::unique_ptr<EditDocument> document, SaveFunction save,
                           CopyFunction copy, std::function<void()> beep, WorkAreaQuerying* workArea = nullptr,
                           QObject* parent = nullptr);
    ~EditorWindowController() override;

    // After the window closed.
    std::function<void()> onClose;

    // Builds the window on first use and brings it to the front with the canvas focused.
    void show();

    // Ctrl+C and the copy button: the picture as it looks now, nothing saved.
    void copy();
    // Ctrl+S, the save button and the close question's first answer.
    void save();

    const Screenshot& screenshot() const { return editedScreenshot; }
    EditDocument& document() const { return *editDocument; }
    EditorWindow* window() const { return editorWindow; }
    EditorCanvasView* canvas() const { return canvasView; }
    EditorToolbarView* toolbar() const { return toolbarView; }
    bool isSaving() const { return saving; }
    // The question or the failure alert while one is up.
    QMessageBox* sheet() const { return shownSheet; }

    // The image of a stored file, decoded off the main thread; nothing when it cannot be read.
    static QFuture<std::optional<QImage>> loadImage(const QString& path);
    // The window's content size for an image of `pixels`: as large as the image (in points),
    // at most 80 % of the visible area, never below 480 × 320.
    static QSize contentSize(QSize pixels, const std::optional<ScreenArea>& screen);

private:
    void build();
    void refreshControls();
    bool windowShouldClose();
    void windowWillClose();
    void askToSave();
    void showFailure(const QString& reason);

    Screenshot editedScreenshot;
    std::unique_ptr<EditDocument> editDocument;
    SaveFunction saveFunction;
    CopyFunction copyFunction;
    std::function<void()> beep;
    WorkAreaQuerying* workArea;
    QPointer<EditorWindow> editorWindow;
    QPointer<EditorCanvasView> canvasView;
    QPointer<EditorToolbarView> toolbarView;
    QPointer<QMessageBox> shownSheet;
    bool saving = false;
    bool discardsChanges = false;
};

}  // namespace quillet
