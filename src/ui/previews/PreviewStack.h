// Turns the rules of the preview stack model into floating panels: after every capture a
// thumbnail panel appears 20 points from the bottom-left corner of the work area of the display
// the capture came from, newer panels stack upward, the oldest gives way when the column no
// longer fits, and untouched panels fade out after six seconds. It carries out what the user
// asks of a panel: copy again, edit, close, pin, reveal in the file manager, drag out as a file.
//
//   auto previews = std::make_shared<PreviewStack>(clipboard, PreviewStack::Desktop{...});
//   previews->onEdit = [](const Screenshot& s) { ... open the editor ... };
//   QUuid id = previews->show(capture, png);
//   previews->attach(stored, path, id);     // once the history has the file
//
// Main thread only.
#pragma once

#include "core/CapturePipeline.h"
#include "platform/CompositorWatching.h"
#include "platform/DisplayIdentifying.h"
#include "platform/FileRevealing.h"
#include "platform/WindowStyling.h"
#include "platform/WorkAreaQuerying.h"
#include "ui/previews/DragFileResolver.h"
#include "ui/previews/PreviewStackModel.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

class QScreen;

namespace quillet {

class PreviewPanel;

class PreviewStack : public QObject, public PreviewShowing {
    Q_OBJECT
public:
    static constexpr int outerMargin = 20;
    static constexpr int spacing = 10;
    static constexpr std::chrono::milliseconds fadeInDuration{120};
    static constexpr std::chrono::milliseconds fadeOutDuration{250};
    static constexpr std::chrono::milliseconds relayoutDuration{200};
    static constexpr int thumbnailMaxPixels = 480;

    // What the stack needs of the desktop: which display is which, where panels may go, how
    // to make a floating panel, whether cards can be translucent, and the file manager.
    struct Desktop {
        DisplayIdentifying& displays;
        WorkAreaQuerying& workArea;
        WindowStyling& styling;
        CompositorWatching& compositor;
        FileRevealing& fileManager;
    };

    // `dragRoot` is where temporary drag files go; whatever an earlier run left there is removed.
    PreviewStack(ClipboardWriting& clipboard, Desktop desktop, const QString& dragRoot = DragFileResolver::standardRoot(),
                 QObject* parent = nullptr);
    ~PreviewStack() override;

    // Opens the editor on a stored screenshot; without it the edit button stays disabled.
    std::function<void(const Screenshot&)> onEdit;
    // Where the history keeps a screenshot's file; without it the path given to attach() is used.
    std::function<QString(const Screenshot&)> historyFileURL;
    // Shows a file in the file manager.
    std::function<void(const QString&)> revealInFileManager;
    // How long the file of a preview that was dragged out stays after the drop.
    std::chrono::milliseconds draggedFileLifetime = std::chrono::seconds(120);

    // Builds and drops one panel so the first real preview shows without a delay.
    void warmUp();

    QUuid show(const CapturedImage& image, const PNGFuture& png) override;
    void attach(const Screenshot& screenshot, const QString& fileURL, const QUuid& previewID) override;
    void showNotSaved(const QString& message, const QUuid& previewID) override;
    // Shows an edited image in place of the preview of screenshot `sourceID`, keeping its place
    // and its pin; a new preview when that one is gone. Returns the preview's id.
    QUuid showEdited(const CapturedImage& image, const PNGFuture& png, const QUuid& sourceID);

    // The image itself when its longer side is at most 480 pixels, else a copy scaled down to that.
    static QImage thumbnail(const QImage& image);
    // "Quillet 2024-03-09 в 14.05.07.png": the name of a dragged capture that is not stored yet.
    static QString fileName(const QDateTime& takenAt);

    // The panel of a preview that is showing, or nullptr.
    PreviewPanel* panel(const QUuid& id) const;
    const PreviewStackModel& stackModel() const { return model; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Item {
        QPointer<PreviewPanel> panel;
        CapturedImage captured;
        PNGFuture png;
        QDateTime takenAt;
        std::optional<Screenshot> screenshot;
        std::optional<QString> recordedFileURL;
    };

    PreviewPanel* makePanel(const QUuid& id);
    void requestThumbnail(PreviewPanel* panel, const QImage& image);
    QScreen* screenFor(std::uint32_t screenID) const;
    int panelHeight(const QUuid& id) const;
    void place(const QUuid& id, bool animated);
    void layout(std::uint32_t screenID, bool animated);
    void evictOverflow(std::uint32_t screenID, const QUuid& keeping);
    void dismiss(const QList<QUuid>& ids, std::optional<std::chrono::milliseconds> keepDragFileFor = std::nullopt);
    void scheduleExpiry();
    void expire();

    void hoverChanged(const QUuid& id, bool hovering);
    void copy(const QUuid& id);
    void edit(const QUuid& id);
    void close(const QUuid& id);
    void togglePin(const QUuid& id);
    void showInFileManager(const QUuid& id);
    void dragEnded(const QUuid& id, bool accepted);
    std::optional<QString> storedFileCandidate(const Item& item) const;
    std::optional<QString> existingHistoryFile(const QUuid& id) const;
    std::optional<QString> fileForDrag(const QUuid& id);

    ClipboardWriting& clipboard;
    Desktop desktop;
    PreviewStackModel model;
    DragFileResolver dragFiles;
    QHash<QUuid, Item> items;
    QTimer expiryTimer;
};

}  // namespace quillet
