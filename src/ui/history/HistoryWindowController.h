// The history window "История": every stored screenshot in a grid, newest first, to open in
// the editor, copy, show in the file manager, drag out as a file, or delete. It follows the
// store's changes while open, and gives back its thumbnail memory when closed.
//
//   auto history = std::make_unique<HistoryWindowController>(HistoryWindowController::Services{...});
//   history->onOpenInEditor = [](const Screenshot& s) { ... };
//   history->onClose = [] { ... forget it ... };
//   history->show();   // again: brings the open window to the front
//
// Main thread only; file work happens in the store and on the thread pool.
#pragma once

#include "core/CapturePipeline.h"
#include "core/Signposts.h"
#include "core/Types.h"
#include "history/HistoryStoring.h"
#include "platform/FileRevealing.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QSize>

#include <functional>
#include <optional>

class QLabel;
class QMessageBox;
class QWidget;

namespace quillet {

class HistoryCollectionView;
class HistoryListModel;

class HistoryWindowController : public QObject {
    Q_OBJECT
public:
    struct Services {
        HistoryStoring& store;
        ClipboardWriting& clipboard;
        FileRevealing& fileManager;
        SoundPlaying& sounds;
        DesktopQuerying& desktop;  // the main display's identifier for copied images
    };

    static constexpr QSize initialSize{780, 600};
    static constexpr QSize minimumSize{440, 320};

    explicit HistoryWindowController(Services services, QObject* parent = nullptr);
    ~HistoryWindowController() override;

    // Told once the window has closed and no delete it started is still running (so that a
    // failure can still be explained).
    std::function<void()> onClose;
    // Asks the application to open a screenshot in the editor.
    std::function<void(const Screenshot&)> onOpenInEditor;

    // Opens the window, or brings the open one to the front.
    void show();
    void close();
    bool isOpen() const { return window != nullptr; }

    // The actions, on the selected screenshot; with none selected they do nothing.
    void openSelected();
    void copySelected();
    void showSelectedInFileManager();
    void deleteSelected();

    const QList<Screenshot>& items() const;
    QWidget* windowWidget() const { return window; }
    HistoryCollectionView* collectionView() const { return grid; }
    QLabel* emptyLabel() const { return empty; }
    // The delete failure alert while it is up.
    QMessageBox* failureAlert() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    void observeStore();
    void stopObservingStore();
    void reload();
    void updateEmptyLabel();
    std::optional<Screenshot> selected() const;
    void deleteFinished(const QUuid& id, const HistoryResult& result);
    void showDeleteFailure();
    void tearDown();
    void notifyClosedWhenIdle();

    Services services;
    HistoryListModel* model = nullptr;  // owned by the window
    QPointer<QWidget> window;
    HistoryCollectionView* grid = nullptr;
    QLabel* empty = nullptr;
    QPointer<QMessageBox> alert;
    QMetaObject::Connection changeObserver;
    // Screenshots removed from the grid whose delete the store has not finished yet; a change
    // that arrives meanwhile must not bring them back.
    QSet<QUuid> deleting;
    bool closePending = false;  // closed, onClose not yet told
    std::optional<MeasuredInterval> opening;  // until the first frame is painted
};

}  // namespace quillet
