// What the recorder, the windows and the editor need of the history: add a screenshot, read
// the list, find a file, get a thumbnail, load, delete and expire. Every asynchronous answer
// comes as a future that always finishes with a value; `historyDidChange` is emitted on the
// main thread whenever the list or the folder changed, `folderUnavailable` when the folder
// went away under a loaded list.
//
//   store->add(png, PixelSize{1920, 1080}, ScreenshotKind::region, std::nullopt)
//       .then(this, [](Expected<Screenshot, HistoryError> stored) { ... });
#pragma once

#include "core/Async.h"
#include "core/Expected.h"
#include "core/Types.h"
#include "history/HistoryError.h"

#include <QByteArray>
#include <QDateTime>
#include <QFuture>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace quillet {

using StoredScreenshot = Expected<Screenshot, HistoryError>;
using HistoryResult = Expected<void, HistoryError>;

class HistoryStoring : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~HistoryStoring() override = default;

    // Encodes `image` as PNG off the main thread and stores it; `source` becomes the sourceID.
    virtual QFuture<StoredScreenshot> add(const QImage& image, ScreenshotKind kind, std::optional<QUuid> source) = 0;
    // Stores ready PNG bytes of an image of `pixelSize`.
    virtual QFuture<StoredScreenshot> add(const QByteArray& png, PixelSize pixelSize, ScreenshotKind kind,
                                          std::optional<QUuid> source) = 0;
    // The list, newest first; empty until loaded. Never waits for file work.
    virtual QList<Screenshot> all() const = 0;
    // Path of a screenshot's file in the current folder; it may not exist.
    virtual QString fileURL(const Screenshot& screenshot) const = 0;
    // A thumbnail whose longer side is at most `maxPixel`, or none.
    virtual QFuture<std::optional<QImage>> thumbnail(const Screenshot& screenshot, int maxPixel,
                                                     const CancellationToken& cancel = {}) = 0;
    // Reads the folder once; later calls do nothing once it was read.
    virtual QFuture<void> load() = 0;
    // Deletes the screenshot with this id and its file; an unknown id does nothing.
    virtual QFuture<HistoryResult> deleteScreenshot(const QUuid& id) = 0;
    // Deletes the store's own screenshots older than the policy allows at `now`.
    virtual QFuture<HistoryResult> applyRetention(const RetentionPolicy& policy, const QDateTime& now) = 0;
    // Forgets the thumbnails held in memory (the history window closed); files on disk stay.
    virtual void releaseThumbnailMemory() = 0;

Q_SIGNALS:
    void historyDidChange();
    // The loaded folder is gone (deleted, replaced by a file, its disk unplugged); the list
    // is empty until it can be read again. Emitted on the main thread.
    void folderUnavailable(const HistoryError& reason);
};

}  // namespace quillet
