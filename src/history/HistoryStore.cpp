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
#include <QFileSystemWatcher>
#include <QMetaObject>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <unistd.h>

namespace quillet {

namespace {

using namespace HistoryFiles;

enum class Loading { alreadyLoaded, loadedNow };

// No display is this large; an index entry claiming more (or less than a pixel) was damaged.
constexpr std::int64_t maxPixelSide = 1 << 20;

bool isPlausible(PixelSize size) {
    return size.width >= 1 && size.height >= 1 && size.width <= maxPixelSide && size.height <= maxPixelSide;
}

// The file's creation date, else its modification date, else now; whole seconds.
QDateTime fileDate(const QString& path, const HistoryStore::Clock& clock) {
    const QFileInfo info(path);
    QDateTime date = info.birthTime();
    if (!date.isValid()) date = info.lastModified();
    if (!date.isValid()) date = clock();
    return wholeSeconds(date);
}

// A PNG file the index does not list becomes a screenshot of kind region, dated by the file
// (never later than now: a file stamped in the future would stay first and never expire).
std::optional<Screenshot> adopt(const QString& folder, const QString& name, const HistoryStore::Clock& clock) {
    const QString path = folder + QLatin1Char('/') + name;
    const auto size = readImageSize(path);
    if (!size || size->width < 1 || size->height < 1) return std::nullopt;
    const QDateTime createdAt = std::min(fileDate(path, clock), wholeSeconds(clock()));
    return Screenshot{QUuid::createUuid(), createdAt, ScreenshotKind::region, *size, name, std::nullopt};
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

    void notifyUnavailable(const HistoryError& reason) {
        std::lock_guard lock(ownerLock);
        if (!owner) return;
        HistoryStore* store = owner;
        QMetaObject::invokeMethod(store, [store, reason] { Q_EMIT store->folderUnavailable(reason); },
                                  Qt::QueuedConnection);
    }

    bool isExpired(const Screenshot& item, const QDateTime& cutoffDate) const {
        return item.createdAt < cutoffDate && HistoryFileName::isOwn(item.fileName);
    }

    // ---- on the write queue ----

    // Brings a loaded list back in line with the folder after something outside the program
    // changed it: files removed by hand leave the list, PNG files put in are adopted, and a
    // folder that is gone (or whose disk went away) empties the list and is announced, instead
    // of being recreated silently under a list of files that no longer exist.
    enum class Reconciled { unchanged, changed, unavailable };
    Reconciled reconcile(bool listFiles) {
        if (!isLoaded()) return Reconciled::unchanged;
        const QString folder = this->folder();
        std::optional<HistoryError> lost;
        if (!access.isVolumeMounted(folder)) {
            lost = HistoryError::volumeNotMounted();
        } else if (!isDirectory(folder)) {
            lost = exists(folder) ? HistoryError::notADirectory() : HistoryError::folderMissing();
        }
        if (lost) {
            {
                std::lock_guard lock(stateLock);
                state = {};
            }
            qCWarning(lcHistory, "Папка истории недоступна: %s", qUtf8Printable(describe(*lost)));
            notifyChanged();
            notifyUnavailable(*lost);
            return Reconciled::unavailable;
        }
        if (!listFiles) return Reconciled::unchanged;
        const auto names = access.pngNames(folder);
        if (!names) return Reconciled::unchanged;
        const QSet<QString> present(names->begin(), names->end());
        QList<Screenshot> list;
        QSet<QString> listed;
        bool changed = false;
        for (const Screenshot& item : items()) {
            listed.insert(item.fileName);
            if (present.contains(item.fileName)) {
                list.append(item);
            } else {
                thumbnails.remove(item.id);
                changed = true;
            }
        }
        QStringList unlisted;
        for (const QString& name : *names) {
            if (!listed.contains(name)) unlisted.append(name);
        }
        const QList<Screenshot> adopted = adoptAll(folder, unlisted, clock);
        if (!adopted.isEmpty()) {
            list.append(adopted);
            std::stable_sort(list.begin(), list.end(),
                             [](const Screenshot& a, const Screenshot& b) { return a.createdAt > b.createdAt; });
            changed = true;
        }
        if (!changed) return Reconciled::unchanged;
        setItems(list);
        if (auto persisted = persist(list); !persisted) {
            qCWarning(lcHistory, "Не удалось переписать индекс истории: %s", qUtf8Printable(persisted.error().description));
        }
        notifyChanged();
        return Reconciled::changed;
    }

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
        if (!isDirectory(folder)) {
            return unexpected(exists(folder) ? HistoryError::notADirectory() : HistoryError::folderMissing());
        }

        if (const auto entries = access.listDirectory(folder)) {
            for (const QString& name : *entries) {
                if (isLeftoverTemporary(name)) (void)files.removeFile(folder + QLatin1Char('/') + name);
            }
        }
        auto loaded = loadItems(folder, access, clock);
        if (!loaded) return unexpected(HistoryError::folded(loaded.error()));
        if (loaded->indexDamaged) keepDamagedIndex(folder);
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

    // Before a damaged index is replaced, it is kept beside it as ".history.json.damaged-" + the
    // time, so what could not be read is not lost with it.
    void keepDamagedIndex(const QString& folder) {
        const QString index = folder + QLatin1Char('/') + indexFileName;
        if (!isRegularFile(index)) {
            qCWarning(lcHistory, "Индекс истории не является обычным файлом; список восстановлен по файлам снимков");
            return;
        }
        const QString stem = index + QLatin1String(".damaged-") +
                             wholeSeconds(clock()).toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
        QString copy = stem;
        for (int n = 2; exists(copy); ++n) copy = stem + QLatin1Char('-') + QString::number(n);
        // A second name for the same bytes costs nothing, even for a huge file; where the file
        // system has no hard links, a copy.
        if (::link(nativePath(index).constData(), nativePath(copy).constData()) != 0) {
            if (auto copied = files.copyFile(index, copy); !copied) {
                qCWarning(lcHistory, "Индекс истории повреждён, и его копию сохранить не удалось: %s",
                          qUtf8Printable(copied.error().description));
                return;
            }
        }
        qCWarning(lcHistory, "Индекс истории повреждён: читаемые записи оставлены, остальные восстановлены по файлам "
                             "снимков; прежний индекс сохранён как %s",
                  qUtf8Printable(QFileInfo(copy).fileName()));
    }

    QString freeFileName(const QString& folder, const QDateTime& createdAt) const {
        const QList<Screenshot> current = items();
        return HistoryFileName::firstFree(HistoryFileName::make(createdAt, timeZone), [&](const QString& name) {
            return std::any_of(current.begin(), current.end(), [&](const Screenshot& s) { return s.fileName == name; }) ||
                   exists(folder + QLatin1Char('/') + name);
        });
    }

    // `createdAt` was taken when the screenshot was handed in, not when its turn came.
    StoredScreenshot store(const QByteArray& png, const QDateTime& createdAt, PixelSize pixelSize, ScreenshotKind kind,
                           std::optional<QUuid> source) {
        // A folder deleted since the last change must not come back under the old list.
        (void)reconcile(false);
        const QString folder = this->folder();
        if (auto prepared = access.prepare(folder); !prepared) return unexpected(prepared.error());
        // Without the list an index written now would forget every screenshot it could not read.
        if (auto loading = runLoading(); !loading) return unexpected(loading.error());

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

    // A missing index is an empty one; an index that cannot be read whole keeps the entries
    // that can, and the PNG files of the others are adopted like any unlisted file.
    const QString indexPath = folder + QLatin1Char('/') + indexFileName;
    HistoryIndex::Salvaged index;
    if (exists(indexPath)) {
        if (const auto bytes = readRegularFile(indexPath, maxIndexBytes)) {
            index = HistoryIndex::salvage(*bytes);
        } else {
            index.damaged = true;
        }
    }

    LoadedItems loaded;
    loaded.indexDamaged = index.damaged;
    loaded.indexNeedsRewrite = index.damaged;
    QList<Screenshot>& list = loaded.items;
    const QSet<QString> present(pngNames->begin(), pngNames->end());
    QSet<QString> listedNames;
    QSet<QUuid> ids;
    const QDateTime now = wholeSeconds(clock());
    for (Screenshot& item : index.items) {
        if (!isPlainFileName(item.fileName) || !present.contains(item.fileName) || listedNames.contains(item.fileName)) {
            loaded.indexNeedsRewrite = true;
            continue;
        }
        // Two entries with one id would make delete by id ambiguous; keep both screenshots.
        if (ids.contains(item.id)) {
            item.id = QUuid::createUuid();
            loaded.indexNeedsRewrite = true;
        }
        // Values no capture can have are taken from the file itself.
        const QString path = folder + QLatin1Char('/') + item.fileName;
        if (!isPlausible(item.pixelSize)) {
            const auto size = readImageSize(path);
            if (!size) {
                loaded.indexNeedsRewrite = true;
                continue;
            }
            loaded.indexNeedsRewrite = loaded.indexNeedsRewrite || *size != item.pixelSize;
            item.pixelSize = *size;
        }
        // A date in the future would stay first and never expire.
        if (item.createdAt > now) {
            item.createdAt = std::min(now, fileDate(path, clock));
            loaded.indexNeedsRewrite = true;
        }
        listedNames.insert(item.fileName);
        ids.insert(item.id);
        list.append(std::move(item));
    }
    index.items.clear();
    QStringList unlisted;
    for (const QString& name : *pngNames) {
        if (!listedNames.contains(name)) unlisted.append(name);
    }
    const QList<Screenshot> adopted = adoptAll(folder, unlisted, clock);
    loaded.indexNeedsRewrite = loaded.indexNeedsRewrite || !adopted.isEmpty();
    list.append(adopted);
    list.squeeze();
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

    // Changes made outside the program are noticed as they happen; a burst of them (or of our
    // own writes) is looked at once, after it settles.
    settle.setSingleShot(true);
    settle.setInterval(250);
    connect(&watcher, &QFileSystemWatcher::directoryChanged, &settle, qOverload<>(&QTimer::start));
    connect(&settle, &QTimer::timeout, this, [this] { (void)reconcile(); });
    connect(this, &HistoryStoring::historyDidChange, this, &HistoryStore::watchFolder);
}

void HistoryStore::watchFolder() {
    const QString current = core->folder();
    const QStringList watched = watcher.directories();
    if (watched == QStringList{current}) return;
    if (!watched.isEmpty()) watcher.removePaths(watched);
    if (isDirectory(current)) watcher.addPath(current);
}

QFuture<void> HistoryStore::reconcile() {
    return core->writes.run([core = core] { (void)core->reconcile(true); });
}

HistoryStore::~HistoryStore() {
    std::lock_guard lock(core->ownerLock);
    core->owner = nullptr;
}

QFuture<StoredScreenshot> HistoryStore::add(const QImage& image, ScreenshotKind kind, std::optional<QUuid> source) {
    // Encoded on the queue too, so the screenshot takes its place among the writes in the
    // order it was handed in.
    // Dated now: writes queued before it, or a slow disk, must not move its time or its name.
    const QDateTime createdAt = wholeSeconds(core->clock());
    return core->writes.run([core = core, image, createdAt, kind, source]() -> StoredScreenshot {
        const auto png = ImageCodec::encodePNG(image);
        if (!png || png->isEmpty()) return unexpected(HistoryError::unreadableImage());
        StoredScreenshot stored = core->store(*png, createdAt, PixelSize{image.width(), image.height()}, kind, source);
        if (stored) core->notifyChanged();
        return stored;
    });
}

QFuture<StoredScreenshot> HistoryStore::add(const QByteArray& png, PixelSize pixelSize, ScreenshotKind kind,
                                            std::optional<QUuid> source) {
    if (png.isEmpty()) return readyFuture(StoredScreenshot(unexpected(HistoryError::unreadableImage())));
    const QDateTime createdAt = wholeSeconds(core->clock());
    return core->writes.run([core = core, png, createdAt, pixelSize, kind, source]() -> StoredScreenshot {
        StoredScreenshot stored = core->store(png, createdAt, pixelSize, kind, source);
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
        (void)core->reconcile(false);
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
        (void)core->reconcile(false);
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
