// Opens stored screenshots in editor windows: one window per screenshot, its image read from
// the history off the main thread. Saving an edit puts it on the clipboard at once, shows it in
// place of the screenshot's preview and records it in the history as a new screenshot of kind
// edited whose sourceID is the one that was opened; the opened screenshot stays as it was.
//
//   EditorLauncher launcher({recorder, store, clipboard, sounds, desktop, workArea, showPreview});
//   launcher.previews = previewStack;
//   previewStack->onEdit = [&](const Screenshot& s) { launcher.open(s); };
//
// Main thread only.
#pragma once

#include "app/HistoryRecorder.h"
#include "core/CapturePipeline.h"
#include "core/Types.h"
#include "history/HistoryStoring.h"
#include "platform/WorkAreaQuerying.h"
#include "ui/editor/EditorWindowController.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QUuid>

#include <functional>
#include <memory>

namespace quillet {

class PreviewStack;

class EditorLauncher : public QObject {
    Q_OBJECT
public:
    struct Services {
        HistoryRecorder& history;
        HistoryStoring& store;  // where the screenshots' files are
        ClipboardWriting& clipboard;
        SoundPlaying& sounds;
        DesktopQuerying& desktop;  // the main display's identifier
        WorkAreaQuerying* workArea = nullptr;
        std::function<bool()> showPreview = [] { return true; };
    };

    explicit EditorLauncher(Services services, QObject* parent = nullptr);
    ~EditorLauncher() override;

    // Set after creation; without it saved edits show no preview.
    std::weak_ptr<PreviewStack> previews;

    // Brings the screenshot's window to the front, or loads its image and opens one. A second
    // call while the image loads is ignored; an unreadable file beeps and opens nothing.
    void open(const Screenshot& screenshot);

    // The open window of a screenshot, or nullptr.
    EditorWindowController* controller(const QUuid& screenshotID) const;
    bool isLoading(const QUuid& screenshotID) const { return loading.contains(screenshotID); }

Q_SIGNALS:
    // A window was built and shown for the first time.
    void editorOpened(const QUuid& screenshotID);
    // An open failed because the image could not be read.
    void openFailed(const QUuid& screenshotID);

private:
    void show(const Screenshot& screenshot, const QImage& image);
    void copy(const QImage& image, const PNGFuture& png);
    void save(const QUuid& sourceID, const QImage& image, const PNGFuture& png,
              const std::function<void(EditorWindowController::SaveOutcome)>& completion);

    Services services;
    QHash<QUuid, QPointer<EditorWindowController>> controllers;
    QSet<QUuid> loading;
};

}  // namespace quillet
