#include "history/HistoryTransfer.h"

#include "history/HistoryStore.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <cerrno>

namespace quillet {

namespace {

using namespace HistoryFiles;

QString inFolder(const QString& folder, const QString& name) { return folder + QLatin1Char('/') + name; }

// `name` itself when nobody has it; otherwise "stem (k).extension" for the first k from 2 that
// neither this transfer claimed nor a file in the folder has.
QString freeName(const QString& name, const QSet<QString>& claimed, const QString& folder) {
    auto taken = [&](const QString& candidate) {
        return claimed.contains(candidate) || exists(inFolder(folder, candidate));
    };
    if (!taken(name)) return name;
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    QString candidate;
    for (int k = 2;; ++k) {
        candidate = stem + QStringLiteral(" (%1)").arg(k) + extension;
        if (!taken(candidate)) return candidate;
    }
}

// The files this transfer has put into the new folder so far; everything is removed again
// unless the transfer gets as far as its index.
class NewFiles {
public:
    NewFiles(const HistoryFileOperations& files) : files(files) {}
    ~NewFiles() {
        if (kept) return;
        for (const QString& path : paths) (void)files.removeFile(path);
    }
    NewFiles(const NewFiles&) = delete;
    NewFiles& operator=(const NewFiles&) = delete;

    void add(const QString& path) { paths.append(path); }
    void replace(const QString& from, const QString& to) { paths[paths.indexOf(from)] = to; }
    void keep() { kept = true; }

private:
    const HistoryFileOperations& files;
    QStringList paths;
    bool kept = false;
};

// One screenshot on its way: its copy under a hidden name until every copy was checked.
struct Copy {
    Screenshot record;  // as the new folder will list it
    QString temporary;
    QString original;   // the name in the old folder
};

}  // namespace

Expected<HistoryTransfer, HistoryError> HistoryTransfer::perform(const QString& from, const QString& to,
                                                                 const HistoryFolderAccess& access,
                                                                 const HistoryFileOperations& files,
                                                                 const std::function<QDateTime()>& clock) {
    const QString source = standardized(from);
    const QString target = standardized(to);
    // One folder under two names would be copied onto itself and then removed.
    if (source == target || isSameDirectory(source, target)) return nothingToMove();
    if (!isDirectory(source)) return nothingToMove();

    const auto old = HistoryStore::loadItems(source, access, clock);
    if (!old) return unexpected(HistoryError::folded(old.error()));
    if (old->items.isEmpty()) return nothingToMove();
    if (auto prepared = access.prepare(target); !prepared) return unexpected(prepared.error());
    const auto existing = HistoryStore::loadItems(target, access, clock);
    if (!existing) return unexpected(HistoryError::folded(existing.error()));

    QHash<QUuid, QString> existingFiles;  // id -> name, of what the new folder already lists
    for (const Screenshot& item : existing->items) existingFiles.insert(item.id, item.fileName);

    NewFiles created(files);
    QSet<QString> claimed;
    QList<Copy> copies;
    qsizetype alreadyThere = 0;
    for (const Screenshot& item : old->items) {
        const QString original = inFolder(source, item.fileName);
        // A move that was interrupted after the new folder's index was written, and is now
        // done again, finds its screenshots there already: copying them once more would show
        // each one twice.
        if (const auto listed = existingFiles.constFind(item.id); listed != existingFiles.constEnd()) {
            const auto same = sameContents(original, inFolder(target, *listed));
            if (same && *same) {
                ++alreadyThere;
                continue;
            }
        }
        Copy copy{item, inFolder(target, temporaryName()), item.fileName};
        copy.record.fileName = freeName(item.fileName, claimed, target);
        claimed.insert(copy.record.fileName);
        created.add(copy.temporary);  // a copy that fails half way is removed too
        auto copied = files.copyFile(original, copy.temporary);
        if (copied) copied = files.syncToDisk(copy.temporary);
        if (!copied) return unexpected(HistoryError::folded(copied.error()));
        const auto same = sameContents(original, copy.temporary);
        if (!same) return unexpected(HistoryError::folded(same.error()));
        if (!*same) return unexpected(HistoryError::writeFailed(copyMismatchText()));
        copies.append(copy);
    }

    // Every copy is checked before any takes a visible name, so a move stopped while copying
    // leaves only hidden files that the next load of the new folder clears away.
    for (Copy& copy : copies) {
        for (int attempt = 0;; ++attempt) {
            const QString path = inFolder(target, copy.record.fileName);
            const auto moved = moveWithoutReplacing(copy.temporary, path);
            if (moved) {
                created.replace(copy.temporary, path);
                break;
            }
            // A name that differs from a claimed one only in letter case is the same name on
            // a FAT disk; take the next free one.
            if (moved.error().code != EEXIST || attempt >= 1000) {
                return unexpected(HistoryError::folded(moved.error()));
            }
            copy.record.fileName = freeName(copy.original, claimed, target);
            claimed.insert(copy.record.fileName);
        }
    }
    flushFolder(target, files);

    QList<Screenshot> merged = existing->items;
    for (const Copy& copy : copies) merged.append(copy.record);
    std::stable_sort(merged.begin(), merged.end(),
                     [](const Screenshot& a, const Screenshot& b) { return a.createdAt > b.createdAt; });
    if (auto written = writeIndex(target, merged, files); !written) {
        return unexpected(HistoryError::folded(written.error()));
    }
    created.keep();

    HistoryTransfer transfer;
    transfer.count = copies.size() + alreadyThere;
    for (const Screenshot& item : old->items) transfer.filesToRemove.append(inFolder(source, item.fileName));
    transfer.filesToRemove.append(inFolder(source, QStringLiteral(".history.json")));
    transfer.removeFile = files.removeFile;
    return transfer;
}

void HistoryTransfer::commit() const {
    for (const QString& path : filesToRemove) (void)removeFile(path);
}

}  // namespace quillet
