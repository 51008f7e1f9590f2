// The history: every stored screenshot is a PNG file in one folder, listed in the index file
// ".history.json", and answered from an in-memory copy of that list. File work runs on
// background tasks, one operation at a time behind the write gate; readers (`all`, `fileURL`,
// `expiredCount`) never wait for it. A missing, damaged or stale index is rebuilt from the PNG
// files that are really there, and PNG files put into the folder by hand are adopted.
//
//   HistoryStore store(folder, HistoryStore::defaultThumbnailsFolder(), systemClock, QTimeZone::systemTimeZone());
//   store.load();
//   store.add(png, {1920, 1080}, ScreenshotKind::region, std::nullopt).then(this, ...);
//
// Files appear only complete: a PNG or index is written under a hidden temporary name, flushed
// to disk, renamed into place, and the folder is flushed after the rename.
#pragma once

#include "history/HistoryFolderAccess.h"
#include "history/HistoryStoring.h"
#include "history/ThumbnailCache.h"

#include <QLatin1String>
#include <QStringView>
#include <QTimeZone>

#include <functional>
#include <memory>

namespace quillet {

class HistoryStore final : public HistoryStoring {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;
    using WriteFile = std::function<Expected<void, FileError>(const QByteArray& data, const QString& path)>;
    using RemoveFile = std::function<Expected<void, FileError>(const QString& path)>;
    // Flushes a file's bytes, or a folder's entries, to the disk.
    using SyncToDisk = std::function<Expected<void, FileError>(const QString& path)>;

    // The name under which other parts of the program know the change signal.
    static constexpr QLatin1String didChangeNotification{"org.quillet.Quillet.historyDidChange"};
    static constexpr QLatin1String indexFileName{".history.json"};
    // The store's own file names; only these are ever expired.
    static constexpr QStringView ownFileNamePattern{
        u"Quillet \\d{4}-\\d{2}-\\d{2} в \\d{2}\\.\\d{2}\\.\\d{2}( \\(\\d+\\))?\\.png"};

    // $XDG_CACHE_HOME/Quillet/thumbs.
    static QString defaultThumbnailsFolder();
    static bool isOwnFileName(QStringView fileName);

    // The real file system: a plain write, unlink, fsync.
    static Expected<void, FileError> systemWriteFile(const QByteArray& data, const QString& path);
    static Expected<void, FileError> systemRemoveFile(const QString& path);
    static Expected<void, FileError> systemSyncToDisk(const QString& path);

    HistoryStore(const QString& folder, const QString& thumbnailsFolder, Clock clock, const QTimeZone& timeZone,
                 QObject* parent = nullptr);
    HistoryStore(const QString& folder, const QString& thumbnailsFolder, Clock clock, const QTimeZone& timeZone,
                 HistoryFolderAccess access, WriteFile writeFile, RemoveFile removeFile,
                 SyncToDisk syncToDisk = &HistoryStore::systemSyncToDisk, QObject* parent = nullptr);
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
    // How many screenshots applyRetention would remove now; no file access, no waiting.
    qsizetype expiredCount(const RetentionPolicy& policy, const QDateTime& now) const;
    // Called when the history window closes; the disk cache stays.
    void releaseThumbnailMemory();

    // Names the file of a screenshot created at `createdAt`, before the free-name rule adds " (n)".
    QString baseFileName(const QDateTime& createdAt) const;

private:
    struct Core;
    std::shared_ptr<Core> core;
};

}  // namespace quillet
