// The history: every stored screenshot is a PNG file in one folder, listed in the index file
// ".history.json", and answered from an in-memory copy of that list. File work runs on the
// store's own write queue, one thread that takes the operations one at a time in the order they
// were asked for (never Qt's global pool); readers (`all`, `fileURL`, `expiredCount`) never
// wait for it. A missing, damaged or stale index is rebuilt from the PNG
// files that are really there, and PNG files put into the folder by hand are adopted.
//
//   HistoryStore store(folder, HistoryStore::defaultThumbnailsFolder(), systemClock, QTimeZone::systemTimeZone());
//   store.load();
//   store.add(png, {1920, 1080}, ScreenshotKind::region, std::nullopt).then(this, ...);
//
// Files appear only complete: a PNG or index is written under a hidden temporary name, flushed
// to disk, renamed into place, and the folder is flushed after the rename.
#pragma once

#include "history/HistoryFiles.h"
#include "history/HistoryFolderAccess.h"
#include "history/HistoryStoring.h"
#include "history/ThumbnailCache.h"

#include <QFileSystemWatcher>
#include <QLatin1String>
#include <QTimer>
#include <QTimeZone>

#include <functional>
#include <memory>

namespace quillet {

class HistoryStore final : public HistoryStoring {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;
    using WriteFile = HistoryFileOperations::WriteFile;
    using RemoveFile = HistoryFileOperations::RemoveFile;
    using SyncToDisk = HistoryFileOperations::SyncToDisk;
    // Used when the history moves to another folder.
    using CopyFile = HistoryFileOperations::CopyFile;

    // The name under which other parts of the program know the change signal.
    static constexpr QLatin1String didChangeNotification{"org.quillet.Quillet.historyDidChange"};
    static constexpr QLatin1String indexFileName{".history.json"};
    // Far beyond any real history (about 300 000 screenshots); a larger index is taken as damaged.
    static constexpr qint64 maxIndexBytes = 64 * 1024 * 1024;

    // $XDG_CACHE_HOME/Quillet/thumbs.
    static QString defaultThumbnailsFolder();

    // The real file system: a plain write, unlink, fsync, a read-write copy.
    static Expected<void, FileError> systemWriteFile(const QByteArray& data, const QString& path);
    static Expected<void, FileError> systemRemoveFile(const QString& path);
    static Expected<void, FileError> systemSyncToDisk(const QString& path);
    static Expected<void, FileError> systemCopyFile(const QString& from, const QString& to);

    // The list a folder holds: its index reconciled with the PNG files really there, PNG files
    // the index does not list adopted with their file dates (or `clock` when those cannot be
    // read), newest first. Entries are read one by one, so a damaged entry costs only itself;
    // sizes no image has are read from the file, dates after `clock` are moved back to it (or
    // to the file's own date when that is earlier). Reads only; `indexNeedsRewrite` says whether the index on disk
    // differs from the list. Fails only when the folder cannot be listed.
    struct LoadedItems {
        QList<Screenshot> items;
        bool indexNeedsRewrite = false;
        // The index was there but could not be read whole; a copy is kept before it is rewritten.
        bool indexDamaged = false;
    };
    static Expected<LoadedItems, FileError> loadItems(const QString& folder, const HistoryFolderAccess& access,
                                                      const Clock& clock);

    HistoryStore(const QString& folder, const QString& thumbnailsFolder, Clock clock, const QTimeZone& timeZone,
                 QObject* parent = nullptr);
    HistoryStore(const QString& folder, const QString& thumbnailsFolder, Clock clock, const QTimeZone& timeZone,
                 HistoryFolderAccess access, WriteFile writeFile, RemoveFile removeFile,
                 SyncToDisk syncToDisk = &HistoryStore::systemSyncToDisk,
                 CopyFile copyFile = &HistoryStore::systemCopyFile, QObject* parent = nullptr);
    // Work still running finishes on its own; it no longer signals.
    ~HistoryStore() override;

    QFuture<StoredScreenshot> add(const QImage& image, ScreenshotKind kind, std::optional<QUuid> source) override;
    QFuture<StoredScreenshot> add(const QByteArray& png, PixelSize pixelSize, ScreenshotKind kind,
                                  std::optional<QUuid> source) override;
    QList<Screenshot> all() const override;
    QString fileURL(const Screenshot& screenshot) const override;
    QFuture<std::optional<QImage>> thumbnail(const Screenshot& screenshot, int maxPixel,
                                             const CancellationToken& cancel = {}) override;
    QFuture<void> load() override;
    QFuture<HistoryResult> deleteScreenshot(const QUuid& id) override;
    QFuture<HistoryResult> applyRetention(const RetentionPolicy& policy, const QDateTime& now) override;

    QString folder() const;
    // Moves the history into `folder`, merging it with a history already there. The store
    // switches folders only once every screenshot was copied, checked and indexed there; then
    // the old files are removed. On failure the store keeps its old folder and list, and the
    // new folder holds nothing of this move. The same folder written differently does nothing;
    // the same folder reached under another name (a symbolic link) is switched to without
    // copying anything.
    QFuture<HistoryResult> relocate(const QString& folder);
    // How many screenshots applyRetention would remove now; no file access, no waiting.
    qsizetype expiredCount(const RetentionPolicy& policy, const QDateTime& now) const;
    // Called when the history window closes; the disk cache stays.
    void releaseThumbnailMemory() override;
    // Looks at the folder again and brings the list in line with what is there; a vanished
    // folder empties the list and emits folderUnavailable. The store calls it itself whenever
    // the folder changes.
    QFuture<void> reconcile();

private:
    // Follows the current folder once it exists.
    void watchFolder();

    struct Core;
    std::shared_ptr<Core> core;
    QFileSystemWatcher watcher;
    QTimer settle;
};

}  // namespace quillet
