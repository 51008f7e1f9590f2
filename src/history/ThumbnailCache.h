// Small images of stored screenshots for the history window, kept at two levels: decoded
// images in memory (bounded to 16 MiB of pixels) and PNG files in a cache folder that survive
// restarts. A thumbnail is decoded at its size straight from the screenshot's file, once.
//
//   ThumbnailCache cache(cacheFolder);
//   cache.thumbnail(id, pngPath, 360, token).then(this, [](std::optional<QImage> image) { ... });
//
// Safe from any thread; copies share one cache.
#pragma once

#include "core/Async.h"

#include <QFuture>
#include <QImage>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

namespace quillet {

class ThumbnailCache {
public:
    // Makes a thumbnail whose larger side is at most `maxPixel` from the file at `source`.
    using ThumbnailMaker = std::function<std::optional<QImage>(const QString& source, int maxPixel)>;

    static constexpr qsizetype memoryCostLimit = 16 * 1024 * 1024;

    // The default maker decodes the file at the requested size with its orientation applied.
    explicit ThumbnailCache(const QString& folder, ThumbnailMaker makeThumbnail = {});

    const QString& folder() const;

    // On a background task. Answers from memory, then from the disk file, and only then makes
    // a new thumbnail — unless `cancel` was called by then, which gives no image.
    QFuture<std::optional<QImage>> thumbnail(const QUuid& id, const QString& source, int maxPixel,
                                             const CancellationToken& cancel = {}) const;
    // The same, on the calling thread (for background work that already runs off the main thread).
    std::optional<QImage> thumbnailNow(const QUuid& id, const QString& source, int maxPixel,
                                       const CancellationToken& cancel = {}) const;

    // Forgets every thumbnail of one screenshot, in memory and on disk.
    void remove(const QUuid& id) const;
    // Empties the memory level; the disk files stay.
    void releaseMemory() const;

private:
    struct Shared;
    std::shared_ptr<Shared> d;
};

}  // namespace quillet
