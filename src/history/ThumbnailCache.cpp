#include "history/ThumbnailCache.h"

#include "core/ImageCodec.h"
#include "core/Types.h"
#include "history/HistoryFiles.h"
#include "history/HistoryQueue.h"

#include <QCache>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>

#include <cstdio>
#include <mutex>

namespace quillet {

struct ThumbnailCache::Shared {
    QString folder;
    ThumbnailMaker makeThumbnail;

    std::mutex memoryLock;
    QCache<QString, QImage> memory;

    // Sizes put into memory per screenshot, so remove(id) finds its memory entries.
    std::mutex sizesLock;
    QHash<QUuid, QSet<int>> knownSizes;

    static QString key(const QUuid& id, int maxPixel) {
        return uuidString(id) + QLatin1Char('_') + QString::number(maxPixel);
    }
    QString diskPath(const QString& key) const { return folder + QLatin1Char('/') + key + QLatin1String(".png"); }

    std::optional<QImage> fromMemory(const QString& key) {
        std::lock_guard lock(memoryLock);
        if (const QImage* image = memory.object(key)) return *image;
        return std::nullopt;
    }

    void remember(const QUuid& id, int maxPixel, const QString& key, const QImage& image) {
        {
            std::lock_guard lock(memoryLock);
            memory.insert(key, new QImage(image), image.bytesPerLine() * image.height());
        }
        std::lock_guard lock(sizesLock);
        knownSizes[id].insert(maxPixel);
    }

    // Written aside and renamed into place, so a reader never sees half a file. Failing here
    // only loses the disk level; the thumbnail itself is still good.
    void writeToDisk(const QString& key, const QImage& image) const {
        QDir().mkpath(folder);
        const QString temporary = folder + QLatin1String("/.tmp-") + uuidString(QUuid::createUuid());
        const QByteArray temporaryName = QFile::encodeName(temporary);
        if (!ImageCodec::encodePNGToFile(image, temporary) ||
            std::rename(temporaryName.constData(), QFile::encodeName(diskPath(key)).constData()) != 0) {
            std::remove(temporaryName.constData());
        }
    }
};

ThumbnailCache::ThumbnailCache(const QString& folder, ThumbnailMaker makeThumbnail) : d(std::make_shared<Shared>()) {
    d->folder = QDir::cleanPath(folder);
    d->makeThumbnail = makeThumbnail ? std::move(makeThumbnail) : ThumbnailMaker([](const QString& source, int maxPixel) {
        // A pipe put where a screenshot was would hold a thumbnail thread for good.
        return HistoryFiles::isRegularFile(source) ? ImageCodec::thumbnail(source, maxPixel) : std::nullopt;
    });
    d->memory.setMaxCost(memoryCostLimit);
}

const QString& ThumbnailCache::folder() const { return d->folder; }

QFuture<std::optional<QImage>> ThumbnailCache::thumbnail(const QUuid& id, const QString& source, int maxPixel,
                                                         const CancellationToken& cancel) const {
    // Reads and writes files, so never on the global pool that painting needs.
    return QtConcurrent::run(thumbnailPool(), [cache = *this, id, source, maxPixel, cancel] {
        return cache.thumbnailNow(id, source, maxPixel, cancel);
    });
}

std::optional<QImage> ThumbnailCache::thumbnailNow(const QUuid& id, const QString& source, int maxPixel,
                                                   const CancellationToken& cancel) const {
    const QString key = Shared::key(id, maxPixel);
    if (auto image = d->fromMemory(key)) return image;
    if (auto image = ImageCodec::decodeFile(d->diskPath(key))) {
        d->remember(id, maxPixel, key, *image);
        return image;
    }
    if (cancel.isCancelled()) return std::nullopt;
    auto image = d->makeThumbnail(source, maxPixel);
    if (!image || image->isNull()) return std::nullopt;
    d->writeToDisk(key, *image);
    d->remember(id, maxPixel, key, *image);
    return image;
}

void ThumbnailCache::remove(const QUuid& id) const {
    QSet<int> sizes;
    {
        std::lock_guard lock(d->sizesLock);
        sizes = d->knownSizes.take(id);
    }
    {
        std::lock_guard lock(d->memoryLock);
        for (int size : sizes) d->memory.remove(Shared::key(id, size));
    }
    const QString prefix = uuidString(id) + QLatin1Char('_');
    const QStringList names = QDir(d->folder).entryList({prefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        if (name.startsWith(prefix)) QFile::remove(d->folder + QLatin1Char('/') + name);
    }
}

void ThumbnailCache::releaseMemory() const {
    {
        std::lock_guard lock(d->memoryLock);
        d->memory.clear();
    }
    std::lock_guard lock(d->sizesLock);
    d->knownSizes.clear();
}

}  // namespace quillet
