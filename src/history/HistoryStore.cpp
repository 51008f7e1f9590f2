#include "history/HistoryStore.h"

#include "core/ImageCodec.h"
#include "core/Logging.h"
#include "history/HistoryIndex.h"
#include "history/RetentionPolicy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMetaObject>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace quillet {

namespace {

QByteArray nativePath(const QString& path) { return QFile::encodeName(path); }

// Creation times are whole seconds since 1970, rounded down.
QDateTime wholeSeconds(const QDateTime& date) {
    const qint64 ms = date.toMSecsSinceEpoch();
    const qint64 seconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc());
}

// An index is input from disk: only a plain name directly inside the folder may come out of
// it, so that no index can make delete or expiry remove a file elsewhere.
bool isPlainFileName(const QString& name) {
    return !name.isEmpty() && !name.startsWith(u'.') && !name.contains(u'/') && !name.contains(QChar(u'\0'));
}

bool isLeftoverTemporary(const QString& name) {
    return name.startsWith(QLatin1String(".tmp-")) || name.startsWith(QLatin1String(".history.json.tmp-"));
}

bool exists(const QString& path) {
    struct stat info{};
    return ::lstat(nativePath(path).constData(), &info) == 0;
}

bool isDirectory(const QString& path) {
    struct stat info{};
    return ::stat(nativePath(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

FileError lastError(const QString& path) { return FileError::fromErrno(errno != 0 ? errno : EIO, path); }

// Moves a file to a name that must not exist yet.
Expected<void, FileError> moveWithoutReplacing(const QString& from, const QString& to) {
    const QByteArray source = nativePath(from);
    const QByteArray target = nativePath(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return unexpected(lastError(to));
    // File systems without RENAME_NOREPLACE (FAT on a USB stick, some network shares): a hard
    // link fails rather than replace; without hard links the write gate keeps the name free
    // between the test and the rename.
    if (::link(source.constData(), target.constData()) == 0) {
        ::unlink(source.constData());
        return {};
    }
    if (errno == EEXIST) return unexpected(lastError(to));
    if (exists(to)) return unexpected(FileError::fromErrno(EEXIST, to));
    if (std::rename(source.constData(), target.constData()) != 0) return unexpected(lastError(to));
    return {};
}

Expected<void, FileError> replace(const QString& from, const QString& to) {
    if (std::rename(nativePath(from).constData(), nativePath(to).constData()) != 0) return unexpected(lastError(to));
    return {};
}

// Kept in step with HistoryStore::ownFileNamePattern (a test checks both agree); written out
// because expiry looks at every item of a long history.
bool matchesOwnFileName(QStringView name) {
    static const QString prefix = QStringLiteral("Quillet ");
    auto digits = [&](qsizetype at, qsizetype count) {
        if (at + count > name.size()) return false;
        for (qsizetype i = at; i < at + count; ++i) {
            if (name[i] < u'0' || name[i] > u'9') return false;
        }
        return true;
    };
    auto is = [&](qsizetype at, char16_t c) { return at < name.size() && name[at] == QChar(c); };
    if (!name.startsWith(prefix)) return false;
    // "yyyy-MM-dd в HH.mm.ss" after the prefix, at fixed positions.
    const qsizetype p = prefix.size();
    if (!(digits(p, 4) && is(p + 4, u'-') && digits(p + 5, 2) && is(p + 7, u'-') && digits(p + 8, 2) &&
          is(p + 10, u' ') && is(p + 11, u'в') && is(p + 12, u' ') && digits(p + 13, 2) && is(p + 15, u'.') &&
          digits(p + 16, 2) && is(p + 18, u'.') && digits(p + 19, 2))) {
        return false;
    }
    qsizetype at = p + 21;
    if (is(at, u' ')) {
        if (!is(at + 1, u'(')) return false;
        at += 2;
        const qsizetype firstDigit = at;
        while (at < name.size() && name[at] >= u'0' && name[at] <= u'9') ++at;
        if (at == firstDigit || !is(at, u')')) return false;
        ++at;
    }
    return name.size() == at + 4 && name.sliced(at) == QLatin1String(".png");
}

enum class Loading { alreadyLoaded, loadedNow };

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
    // Held across every operation that changes files or the list, so they never interleave.
    // Lock order: the gate may be held while taking folderLock or stateLock; neither of those
    // is held while taking another lock.
    std::mutex writeGate;

    HistoryFolderAccess access;
    ThumbnailCache thumbnails;
    Clock clock;
    QTimeZone timeZone;
    WriteFile writeFile;
    RemoveFile removeFile;
    SyncToDisk syncToDisk;

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

    // Emitted on the main thread; called after the write gate was released.
    void notifyChanged() {
        std::lock_guard lock(ownerLock);
        if (!owner) return;
        HistoryStore* store = owner;
        QMetaObject::invokeMethod(store, [store] { Q_EMIT store->historyDidChange(); }, Qt::QueuedConnection);
    }

    QString baseFileName(const QDateTime& createdAt) const {
        return QStringLiteral("Quillet ") +
               QLocale::c().toString(createdAt.toTimeZone(timeZone), QStringLiteral("yyyy-MM-dd 'в' HH.mm.ss"));
    }

    bool isExpired(const Screenshot& item, const QDateTime& cutoffDate) const {
        return item.createdAt < cutoffDate && matchesOwnFileName(item.fileName);
    }

    // ---- with the write gate held ----

    Expected<void, FileError> flushedWrite(const QByteArray& data, const QString& path) {
        if (auto written = writeFile(data, path); !written) return written;
        return syncToDisk(path);
    }

    // A failure to flush the folder after a rename cannot be undone and does not make the
    // operation fail; it only loses the guarantee across a power cut.
    void flushFolder(const QString& folder) {
        if (auto synced = syncToDisk(folder); !synced) {
            qCWarning(lcHistory, "Не удалось сбросить папку истории на диск: %s", qUtf8Printable(synced.error().description));
        }
    }

    // The index is written aside, flushed and renamed over the old one, so a crash leaves
    // either the old index or the new one, never half of either.
    Expected<void, FileError> persist(const QList<Screenshot>& items) {
        const QString folder = this->folder();
        const QString temporary = folder + QLatin1String("/.history.json.tmp-") + uuidString(QUuid::createUuid());
        const QByteArray bytes = HistoryIndex{HistoryIndex::currentVersion, items}.encoded();
        auto written = flushedWrite(bytes, temporary);
        if (written) written = replace(temporary, folder + QLatin1Char('/') + indexFileName);
        if (!written) {
            (void)removeFile(temporary);
            return written;
        }
        flushFolder(folder);
        return {};
    }

    std::optional<Screenshot> adopt(const QString& folder, const QString& name) const {
        const QString path = folder + QLatin1Char('/') + name;
        const auto size = ImageCodec::readSize(path);
        if (!size || size->width < 1 || size->height < 1) return std::nullopt;
        const QFileInfo info(path);
        QDateTime date = info.birthTime();
        if (!date.isValid()) date = info.lastModified();
        if (!date.isValid()) date = clock();
        return Screenshot{QUuid::createUuid(), wholeSeconds(date), ScreenshotKind::region, *size, name, std::nullopt};
    }

    QList<Screenshot> adoptAll(const QString& folder, const QStringList& names) const {
        QList<Screenshot> adopted;
        for (const QString& name : names) {
            if (auto record = adopt(folder, name)) adopted.append(*record);
        }
        return adopted;
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
                if (isLeftoverTemporary(name)) (void)removeFile(folder + QLatin1Char('/') + name);
            }
        }
        const auto pngNames = access.pngNames(folder);
        if (!pngNames) return unexpected(HistoryError::folded(pngNames.error()));

        QFile indexFile(folder + QLatin1Char('/') + indexFileName);
        const bool indexExists = indexFile.exists();
        std::optional<HistoryIndex> index;
        if (indexFile.open(QIODevice::ReadOnly)) {
            if (auto decoded = HistoryIndex::decode(indexFile.readAll())) index = std::move(*decoded);
        }

        QList<Screenshot> list;
        bool mustRewrite = false;
        if (index) {
            const QSet<QString> present(pngNames->begin(), pngNames->end());
            QSet<QString> listedNames;
            QSet<QUuid> ids;
            list.reserve(index->items.size());
            for (Screenshot& item : index->items) {
                if (!isPlainFileName(item.fileName) || !present.contains(item.fileName) ||
                    listedNames.contains(item.fileName)) {
                    mustRewrite = true;
                    continue;
                }
                // Two entries with one id would make delete by id ambiguous; keep both screenshots.
                if (ids.contains(item.id)) {
                    item.id = QUuid::createUuid();
                    mustRewrite = true;
                }
                listedNames.insert(item.fileName);
                ids.insert(item.id);
                list.append(std::move(item));
            }
            QStringList unlisted;
            for (const QString& name : *pngNames) {
                if (!listedNames.contains(name)) unlisted.append(name);
            }
            const QList<Screenshot> adopted = adoptAll(folder, unlisted);
            mustRewrite = mustRewrite || !adopted.isEmpty();
            list.append(adopted);
        } else {
            list = adoptAll(folder, *pngNames);
            mustRewrite = indexExists || !list.isEmpty();
        }
        std::stable_sort(list.begin(), list.end(),
                         [](const Screenshot& a, const Screenshot& b) { return a.createdAt > b.createdAt; });

        if (mustRewrite) {
            if (auto persisted = persist(list); !persisted) {
                qCWarning(lcHistory, "Не удалось переписать индекс истории: %s",
                          qUtf8Printable(persisted.error().description));
            }
        }
        std::lock_guard lock(stateLock);
        state.items = list;
        state.loaded = true;
        return Loading::loadedNow;
    }

    QString freeFileName(const QString& folder, const QDateTime& createdAt) const {
        const QString base = baseFileName(createdAt);
        const QList<Screenshot> current = items();
        auto taken = [&](const QString& name) {
            return std::any_of(current.begin(), current.end(), [&](const Screenshot& s) { return s.fileName == name; }) ||
                   exists(folder + QLatin1Char('/') + name);
        };
        QString name = base + QLatin1String(".png");
        for (int n = 2; taken(name); ++n) name = base + QStringLiteral(" (%1).png").arg(n);
        return name;
    }

    StoredScreenshot store(const QByteArray& png, PixelSize pixelSize, ScreenshotKind kind, std::optional<QUuid> source) {
        const QString folder = this->folder();
        if (auto prepared = access.prepare(folder); !prepared) return unexpected(prepared.error());
        // Without the list an index written now would forget every screenshot it could not read.
        if (auto loading = runLoading(); !loading) return unexpected(loading.error());

        const QDateTime createdAt = wholeSeconds(clock());
        const QString fileName = freeFileName(folder, createdAt);
        const QString path = folder + QLatin1Char('/') + fileName;
        const QString temporary = folder + QLatin1String("/.tmp-") + uuidString(QUuid::createUuid()) + QLatin1String(".png");
        auto written = flushedWrite(png, temporary);
        if (written) written = moveWithoutReplacing(temporary, path);
        if (!written) {
            (void)removeFile(temporary);
            return unexpected(HistoryError::folded(written.error()));
        }
        flushFolder(folder);

        const Screenshot screenshot{QUuid::createUuid(), createdAt, kind, pixelSize, fileName, source};
        QList<Screenshot> list = items();
        const auto position = std::find_if(list.begin(), list.end(),
                                           [&](const Screenshot& item) { return item.createdAt <= createdAt; });
        list.insert(position, screenshot);
        if (auto persisted = persist(list); !persisted) {
            (void)removeFile(path);
            return unexpected(HistoryError::folded(persisted.error()));
        }
        setItems(list);
        return screenshot;
    }

    // A file that is already gone counts as discarded.
    Expected<void, HistoryError> discard(const Screenshot& item) {
        const auto removed = removeFile(folder() + QLatin1Char('/') + item.fileName);
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

bool HistoryStore::isOwnFileName(QStringView fileName) { return matchesOwnFileName(fileName); }

Expected<void, FileError> HistoryStore::systemWriteFile(const QByteArray& data, const QString& path) {
    const int fd = ::open(nativePath(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return unexpected(lastError(path));
    const char* bytes = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t count = ::write(fd, bytes, static_cast<size_t>(left));
        if (count < 0) {
            if (errno == EINTR) continue;
            const FileError failure = lastError(path);
            ::close(fd);
            return unexpected(failure);
        }
        bytes += count;
        left -= count;
    }
    // Network file systems may report a failed write only here.
    if (::close(fd) != 0) return unexpected(lastError(path));
    return {};
}

Expected<void, FileError> HistoryStore::systemRemoveFile(const QString& path) {
    if (::unlink(nativePath(path).constData()) != 0) return unexpected(lastError(path));
    return {};
}

Expected<void, FileError> HistoryStore::systemSyncToDisk(const QString& path) {
    const int fd = ::open(nativePath(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return unexpected(lastError(path));
    int result = ::fsync(fd);
    // A file system that cannot flush (some special ones) has nothing to report.
    if (result != 0 && (errno == EINVAL || errno == ENOTSUP)) result = 0;
    const FileError failure = result != 0 ? lastError(path) : FileError{};
    ::close(fd);
    if (result != 0) return unexpected(failure);
    return {};
}

HistoryStore::HistoryStore(const QString& folder, const QString& thumbnailsFolder, Clock clock,
                           const QTimeZone& timeZone, QObject* parent)
    : HistoryStore(folder, thumbnailsFolder, std::move(clock), timeZone, HistoryFolderAccess::system(),
                   &HistoryStore::systemWriteFile, &HistoryStore::systemRemoveFile, &HistoryStore::systemSyncToDisk,
                   parent) {}

HistoryStore::HistoryStore(const QString& folder, const QString& thumbnailsFolder, Clock clock,
                           const QTimeZone& timeZone, HistoryFolderAccess access, WriteFile writeFile,
                           RemoveFile removeFile, SyncToDisk syncToDisk, QObject* parent)
    : HistoryStoring(parent),
      core(std::make_shared<Core>(QDir::cleanPath(QDir::current().absoluteFilePath(folder)), thumbnailsFolder)) {
    core->access = std::move(access);
    core->clock = std::move(clock);
    core->timeZone = timeZone;
    core->writeFile = std::move(writeFile);
    core->removeFile = std::move(removeFile);
    core->syncToDisk = std::move(syncToDisk);
    core->owner = this;
}

HistoryStore::~HistoryStore() {
    std::lock_guard lock(core->ownerLock);
    core->owner = nullptr;
}

QFuture<StoredScreenshot> HistoryStore::add(const QImage& image, ScreenshotKind kind, std::optional<QUuid> source) {
    return runInBackground([core = core, image, kind, source]() -> StoredScreenshot {
        const auto png = ImageCodec::encodePNG(image);
        if (!png || png->isEmpty()) return unexpected(HistoryError::unreadableImage());
        StoredScreenshot stored = [&] {
            std::lock_guard gate(core->writeGate);
            return core->store(*png, PixelSize{image.width(), image.height()}, kind, source);
        }();
        if (stored) core->notifyChanged();
        return stored;
    });
}

QFuture<StoredScreenshot> HistoryStore::add(const QByteArray& png, PixelSize pixelSize, ScreenshotKind kind,
                                            std::optional<QUuid> source) {
    if (png.isEmpty()) return readyFuture(StoredScreenshot(unexpected(HistoryError::unreadableImage())));
    return runInBackground([core = core, png, pixelSize, kind, source]() -> StoredScreenshot {
        StoredScreenshot stored = [&] {
            std::lock_guard gate(core->writeGate);
            return core->store(png, pixelSize, kind, source);
        }();
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
    return runInBackground([core = core] {
        const auto loading = [&] {
            std::lock_guard gate(core->writeGate);
            return core->runLoading();
        }();
        if (loading && *loading == Loading::loadedNow) core->notifyChanged();
    });
}

QFuture<HistoryResult> HistoryStore::deleteScreenshot(const QUuid& id) {
    return runInBackground([core = core, id]() -> HistoryResult {
        bool removed = false;
        {
            std::lock_guard gate(core->writeGate);
            QList<Screenshot> list = core->items();
            const auto item = std::find_if(list.begin(), list.end(), [&](const Screenshot& s) { return s.id == id; });
            // An unknown id is no failure: nothing happens.
            if (item == list.end()) return {};
            if (auto discarded = core->discard(*item); !discarded) return discarded;
            list.erase(item);
            core->setItems(list);
            // The list already lacks the item either way; its stale index entry is dropped on
            // the next load.
            if (auto persisted = core->persist(list); !persisted) {
                return unexpected(HistoryError::folded(persisted.error()));
            }
            removed = true;
        }
        if (removed) core->notifyChanged();
        return {};
    });
}

QFuture<HistoryResult> HistoryStore::applyRetention(const RetentionPolicy& policy, const QDateTime& now) {
    return runInBackground([core = core, policy, now]() -> HistoryResult {
        if (policy.isForever()) return {};
        if (!isValid(policy)) return unexpected(HistoryError::invalidRetention());
        const QDateTime cutoffDate = *cutoff(policy, now);

        std::optional<HistoryError> firstFailure;
        bool removedAny = false;
        {
            std::lock_guard gate(core->writeGate);
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
            }
        }
        if (removedAny) core->notifyChanged();
        if (firstFailure) return unexpected(*firstFailure);
        return {};
    });
}

QString HistoryStore::folder() const { return core->folder(); }

qsizetype HistoryStore::expiredCount(const RetentionPolicy& policy, const QDateTime& now) const {
    if (policy.isForever() || !isValid(policy)) return 0;
    const QDateTime cutoffDate = *cutoff(policy, now);
    const QList<Screenshot> list = core->items();
    return std::count_if(list.begin(), list.end(), [&](const Screenshot& item) { return core->isExpired(item, cutoffDate); });
}

void HistoryStore::releaseThumbnailMemory() { core->thumbnails.releaseMemory(); }

QString HistoryStore::baseFileName(const QDateTime& createdAt) const { return core->baseFileName(createdAt); }

}  // namespace quillet
