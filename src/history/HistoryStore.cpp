#include "history/HistoryStore.h"

#include "core/ImageCodec.h"
#include "core/Logging.h"
#include "history/HistoryFileName.h"
#include "history/HistoryIndex.h"
#include "history/HistoryQueue.h"
#include "history/HistoryTransfer.h"
#include "history/RetentionPolicy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace quillet {

namespace {

using namespace HistoryFiles;

enum class Loading { alreadyLoaded, loadedNow };

// A PNG file the index does not list becomes a screenshot of kind region, dated by the file.
std::optional<Screenshot> adopt(const QString& folder, const QString& name, const HistoryStore::Clock& clock) {
    const QString path = folder + QLatin1Char('/') + name;
    const auto size = readImageSize(path);
    if (!size || size->width < 1 || size->height < 1) return std::nullopt;
    const QFileInfo info(path);
    QDateTime date = info.birthTime();
    if (!date.isValid()) date = info.lastModified();
    if (!date.isValid()) date = clock();
    return Screenshot{QUuid::createUuid(), wholeSeconds(date), ScreenshotKind::region, *size, name, std::nullopt};
}

QList<Screenshot> adoptAll(const QString& folder, const QStringList& names, const HistoryStore::Clock& clock) {
    QList<Screenshot> adopted;
    for (const QString& name : names) {
        if (auto record = adopt(folder, name, clock)) adopted.append(*record);
    }
    return adopted;
}

}  // namespace

// Everything background work touches lives here, shared with the tasks, so a task still
// running when the store goes away finishes safely.
struct HistoryStore::Core {
    struct State {
        QList<Screenshot> items;  // newest first
        bool loaded = false;
    };

    mutable std::mutex folderLock;  // guards the current history folder
    QString folderPath;
    mutable std::mutex stateLock;
    State state;
    // Every operation that changes files or the list runs here, one at a time, in the order it
    // was asked for. folderLock and stateLock are held only to copy a value in or out, never
    // while taking another lock, so readers on the main thread never wait for file work.
    SerialQueue writes{"quillet-history"};

    HistoryFolderAccess access;
    ThumbnailCache thumbnails;
    Clock clock;
    QTimeZone timeZone;
    HistoryFileOperations files;

    std::mutex ownerLock;
    HistoryStore* owner = nullptr;

    Core(const QString& folder, const QString& thumbnailsFolder) : folderPath(folder), thumbnails(thumbnailsFolder) {}

    QString folder() const {
        std::lock_guard lock(folderLock);
        return folderPath;
    }
    QList<Screenshot> items() const {
        std::lock_guard lock(stateLock);
        return state.items;
    }
    bool isLoaded() const {
        std::lock_guard lock(stateLock);
        return state.loaded;
    }
    void setItems(const QList<Screenshot>& items) {
        std::lock_guard lock(stateLock);
        state.items = items;
    }

    // Emitted on the main thread; called once the change is complete and the list updated.
    void notifyChanged() {
        std::lock_guard lock(ownerLock);
        if (!owner) return;
        HistoryStore* store = owner;
        QMetaObject::invokeMethod(store, [store] { Q_EMIT store->historyDidChange(); }, Qt::QueuedConnection);
    }

    bool isExpired(const Screenshot& item, const QDateTime& cutoffDate) const {
        return item.createdAt < cutoffDate && HistoryFileName::isOwn(item.fileName);
    }

    // ---- on the write queue ----

    Expected<void, FileError> flushedWrite(const QByteArray& data, const QString& path) {
        if (auto written = files.writeFile(data, path); !written) return written;
        return files.syncToDisk(path);
    }

    Expected<void, FileError> persist(const QList<Screenshot>& items) {
        return writeIndex(folder(), items, files);
    }

    // Reads the folder once: reconciles the index with the PNG files that are really there,
    // adopts PNG files it does not list and removes leftovers of an interrupted run.
    Expected<Loading, HistoryError> runLoading() {
        if (isLoaded()) return Loading::alreadyLoaded;
        const QString folder = this->folder();
        if (!access.isVolumeMounted(folder)) return unexpected(HistoryError::volumeNotMounted());
        (void)access.prepare(folder);
        if (!isDirectory(folder)) return unexpected(HistoryError::folded(FileError::fromErrno(ENOTDIR, folder)));

        if (const auto entries = access.listDirectory(folder)) {
            for (const QString& name : *entries) {
                if (isLeftoverTemporary(name)) (void)files.removeFile(folder + QLatin1Char('/') + name);
            }
        }
        auto loaded = loadItems(folder, access, clock);
        if (!loaded) return unexpected(HistoryError::folded(loaded.error()));
        if (loaded->indexNeedsRewrite) {
            if (auto persisted = persist(loaded->items); !persisted) {
                qCWarning(lcHistory, "Не удалось переписать индекс истории: %s",
                          qUtf8Printable(persisted.error().description));
            }
        }
        std::lock_guard lock(stateLock);
        state.items = std::move(loaded->items);
        state.loaded = true;
        return Loading::loadedNow;
    }

    QString freeFileName(const QString& folder, const QDateTime& createdAt) const {
        const QList<Screenshot> current = items();
        return HistoryFileName::firstFree(HistoryFileName::make(createdAt, timeZone), [&](const QString& name) {
            return std::any_of(current.begin(), current.end(), [&](const Screenshot& s) { return s.fileName == name; }) ||
                   exists(folder + QLatin1Char('/') + name);
        });
    }

    StoredScreenshot store(const QByteArray& png, PixelSize pixelSize, ScreenshotKind kind, std::optional<QUuid> source) {
        const QString folder = this->folder();
        if (auto prepared = access.prepare(folder); !prepared) return unexpected(prepared.error());
        // Without the list an index written now would forget every screenshot it could not read.
        if (auto loading = runLoading(); !loading) return unexpected(loading.error());

        const QDateTime createdAt = wholeSeconds(clock());
        const QString fileName = freeFileName(folder, createdAt);
        const QString path = folder + QLatin1Char('/') + fileName;
        const QString temporary = folder + QLatin1Char('/') + temporaryName(QStringLiteral(".png"));
        auto written = flushedWrite(png, temporary);
        if (written) written = moveWithoutReplacing(temporary, path);
        if (!written) {
            (void)files.removeFile(temporary);
            return unexpected(HistoryError::folded(written.error()));
        }
        flushFolder(folder, files);

        const Screenshot screenshot{QUuid::createUuid(), createdAt, kind, pixelSize, fileName, source};
        QList<Screenshot> list = items();
        const auto position = std::find_if(list.begin(), list.end(),
                                           [&](const Screenshot& item) { return item.createdAt <= createdAt; });
        list.insert(position, screenshot);
        if (auto persisted = persist(list); !persisted) {
            (void)files.removeFile(path);
            return unexpected(HistoryError::folded(persisted.error()));
        }
        setItems(list);
        return screenshot;
    }

    // A file that is already gone counts as discarded.
    Expected<void, HistoryError> discard(const Screenshot& item) {
        const auto removed = files.removeFile(folder() + QLatin1Char('/') + item.fileName);
        if (!removed && removed.error().code != ENOENT) {
            return unexpected(HistoryError::deleteFailed(removed.error().description));
        }
        thumbnails.remove(item.id);
        return {};
    }
};

QString HistoryStore::defaultThumbnailsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QLatin1String("/Quillet/thumbs");
}

Expected<void, FileError> HistoryStore::systemWriteFile(const QByteArray& data, const QString& path) {
    return HistoryFiles::systemWriteFile(data, path);
}

Expected<void, FileError> HistoryStore::systemRemoveFile(const QString& path) {
    return HistoryFiles::systemRemoveFile(path);
}

Expected<void, FileError> HistoryStore::systemSyncToDisk(const QString& path) {
    return HistoryFiles::systemSyncToDisk(path);
}

Expected<void, FileError> HistoryStore::systemCopyFile(const QString& from, const QString& to) {
    return HistoryFiles::systemCopyFile(from, to);
}

Expected<HistoryStore::LoadedItems, FileError> HistoryStore::loadItems(const QString& folder,
                                                                       const HistoryFolderAccess& access,
                                                                       const Clock& clock) {
    const auto pngNames = access.pngNames(folder);
    if (!pngNames) return unexpected(pngNames.error());

    const QString indexPath = folder + QLatin1Char('/') + indexFileName;
    const bool indexExists = exists(indexPath);
    std::optional<HistoryIndex> index;
    if (const auto bytes = readRegularFile(indexPath, maxIndexBytes)) {
        if (auto decoded = HistoryIndex::decode(*bytes)) index = std::move(*decoded);
    }

    LoadedItems loaded;
    QList<Screenshot>& list = loaded.items;
    if (index) {
        const QSet<QString> present(pngNames->begin(), pngNames->end());
        QSet<QString> listedNames;
        QSet<QUuid> ids;
        list.reserve(index->items.size());
        for (Screenshot& item : index->items) {
            if (!isPlainFileName(item.fileName) || !present.contains(item.fileName) ||
                listedNames.contains(item.fileName)) {
                loaded.indexNeedsRewrite = true;
                continue;
            }
            // Two entries with one id would make delete by id ambiguous; keep both screenshots.
            if (ids.contains(item.id)) {
                item.id = QUuid::createUuid();
                loaded.indexNeedsRewrite = true;
            }
            listedNames.insert(item.fileName);
            ids.insert(item.id);
            list.append(std::move(item));
        }
        QStringList unlisted;
        for (const QString& name : *pngNames) {
            if (!listedNames.contains(name)) unlisted.append(name);
        }
        const QList<Screenshot> adopted = adoptAll(folder, unlisted, clock);
        loaded.indexNeedsRewrite = loaded.indexNeedsRewrite || !adopted.isEmpty();
        list.append(adopted);
    } else {
        list = adoptAll(folder, *pngNames, clock);
        loaded.indexNeedsRewrite = indexExists || !list.isEmpty();
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const Screenshot& a, const Screenshot& b) { return a.createdAt > b.createdAt; });
    return loaded;
}

HistoryStore::HistoryStore(const QString& folder, const QString& thumbnailsFolder, Clock clock,
                           const QTimeZone& timeZone, QObject* parent)
    : HistoryStore(folder, thumbnailsFolder, std::move(clock), timeZone, HistoryFolderAccess::system(),
                   &HistoryStore::systemWriteFile, &HistoryStore::systemRemoveFile, &HistoryStore::systemSyncToDisk,
                   &HistoryStore::systemCopyFile, parent) {}

HistoryStore::HistoryStore(const QString& folder, const QString& thumbnailsFolder, Clock clock,
                           const QTimeZone& timeZone, HistoryFolderAccess access, WriteFile writeFile,
                           RemoveFile removeFile, SyncToDisk syncToDisk, CopyFile copyFile, QObject* parent)
    : HistoryStoring(parent), core(std::make_shared<Core>(standardized(folder), thumbnailsFolder)) {
    core->access = std::move(access);
    core->clock = std::move(clock);
    core->timeZone = timeZone;
    core->files = {std::move(writeFile), std::move(removeFile), std::move(syncToDisk), std::move(copyFile)};
    core->owner = this;
}

HistoryStore::~HistoryStore() {
    std::lock_guard lock(core->ownerLock);
    core->owner = nullptr;
}

QFuture<StoredScreenshot> HistoryStore::add(const QImage& image, ScreenshotKind kind, std::optional<QUuid> source) {
    // Encoded on the queue too, so the screenshot takes its place among the writes in the
    // order it was handed in.
    return core->writes.run([core = core, image, kind, source]() -> StoredScreenshot {
        const auto png = ImageCodec::encodePNG(image);
        if (!png || png->isEmpty()) return unexpected(HistoryError::unreadableImage());
        StoredScreenshot stored = core->store(*png, PixelSize{image.width(), image.height()}, kind, source);
        if (stored) core->notifyChanged();
        return stored;
    });
}

QFuture<StoredScreenshot> HistoryStore::add(const QByteArray& png, PixelSize pixelSize, ScreenshotKind kind,
                                            std::optional<QUuid> source) {
    if (png.isEmpty()) return readyFuture(StoredScreenshot(unexpected(HistoryError::unreadableImage())));
    return core->writes.run([core = core, png, pixelSize, kind, source]() -> StoredScreenshot {
        StoredScreenshot stored = core->store(png, pixelSize, kind, source);
        if (stored) core->notifyChanged();
        return stored;
    });
}

QList<Screenshot> HistoryStore::all() const { return core->items(); }

QString HistoryStore::fileURL(const Screenshot& screenshot) const {
    return core->folder() + QLatin1Char('/') + screenshot.fileName;
}

QFuture<std::optional<QImage>> HistoryStore::thumbnail(const Screenshot& screenshot, int maxPixel,
                                                       const CancellationToken& cancel) {
    return core->thumbnails.thumbnail(screenshot.id, fileURL(screenshot), maxPixel, cancel);
}

QFuture<void> HistoryStore::load() {
    return core->writes.run([core = core] {
        const auto loading = core->runLoading();
        if (loading && *loading == Loading::loadedNow) core->notifyChanged();
    });
}

QFuture<HistoryResult> HistoryStore::deleteScreenshot(const QUuid& id) {
    return core->writes.run([core = core, id]() -> HistoryResult {
        QList<Screenshot> list = core->items();
        const auto item = std::find_if(list.begin(), list.end(), [&](const Screenshot& s) { return s.id == id; });
        // An unknown id is no failure: nothing happens.
        if (item == list.end()) return {};
        if (auto discarded = core->discard(*item); !discarded) return discarded;
        list.erase(item);
        core->setItems(list);
        // The list already lacks the item either way; its stale index entry is dropped on the
        // next load.
        if (auto persisted = core->persist(list); !persisted) {
            return unexpected(HistoryError::folded(persisted.error()));
        }
        core->notifyChanged();
        return {};
    });
}

QFuture<HistoryResult> HistoryStore::applyRetention(const RetentionPolicy& policy, const QDateTime& now) {
    if (policy.isForever()) return readyFuture(HistoryResult());
    if (!isValid(policy)) return readyFuture(HistoryResult(unexpected(HistoryError::invalidRetention())));
    return core->writes.run([core = core, cutoffDate = *cutoff(policy, now)]() -> HistoryResult {
        std::optional<HistoryError> firstFailure;
        bool removedAny = false;
        const QList<Screenshot> list = core->items();
        QList<Screenshot> kept;
        kept.reserve(list.size());
        for (const Screenshot& item : list) {
            if (!core->isExpired(item, cutoffDate)) {
                kept.append(item);
                continue;
            }
            if (auto discarded = core->discard(item); !discarded) {
                if (!firstFailure) firstFailure = discarded.error();
                kept.append(item);
                continue;
            }
            removedAny = true;
        }
        if (removedAny) {
            core->setItems(kept);
            if (auto persisted = core->persist(kept); !persisted) {
                return unexpected(HistoryError::folded(persisted.error()));
            }
            core->notifyChanged();
        }
        if (firstFailure) return unexpected(*firstFailure);
        return {};
    });
}

QString HistoryStore::folder() const { return core->folder(); }

QFuture<HistoryResult> HistoryStore::relocate(const QString& folder) {
    return core->writes.run([core = core, target = standardized(folder)]() -> HistoryResult {
        const QString current = core->folder();
        if (target == current) return {};
        if (auto prepared = core->access.prepare(target); !prepared) return unexpected(prepared.error());
        // Until the copy is complete, checked and indexed, the store stays where it was.
        auto transfer = HistoryTransfer::perform(current, target, core->access, core->files, core->clock);
        if (!transfer) return unexpected(transfer.error());
        {
            std::lock_guard lock(core->folderLock);
            core->folderPath = target;
        }
        {
            std::lock_guard lock(core->stateLock);
            core->state = {};
        }
        // The copies are on the disk and indexed whether or not the new folder can be read back
        // right now; the store then stays unloaded and tries again on the next load.
        if (auto loading = core->runLoading(); !loading) {
            qCWarning(lcHistory, "Новая папка истории пока не читается: %s", qUtf8Printable(describe(loading.error())));
        }
        transfer->commit();
        core->notifyChanged();
        return {};
    });
}

qsizetype HistoryStore::expiredCount(const RetentionPolicy& policy, const QDateTime& now) const {
    if (policy.isForever() || !isValid(policy)) return 0;
    const QDateTime cutoffDate = *cutoff(policy, now);
    const QList<Screenshot> list = core->items();
    return std::count_if(list.begin(), list.end(), [&](const Screenshot& item) { return core->isExpired(item, cutoffDate); });
}

void HistoryStore::releaseThumbnailMemory() { core->thumbnails.releaseMemory(); }

}  // namespace quillet
