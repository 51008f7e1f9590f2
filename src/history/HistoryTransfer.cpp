#include "history/HistoryTransfer.h"

#include "history/HistoryFileName.h"
#include "history/HistoryStore.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace quillet {

namespace {

using namespace HistoryFiles;

QString inFolder(const QString& folder, const QString& name) { return folder + QLatin1Char('/') + name; }

// The first free name that neither this transfer claimed nor a file in the folder has. Claims
// ignore letter case: the names are fixed before any copy is renamed, and on a FAT disk "a.png"
// and "A.PNG" are one.
QString freeName(const QString& name, const QSet<QString>& claimed, const QString& folder) {
    return HistoryFileName::firstFree(name, [&](const QString& candidate) {
        return claimed.contains(candidate.toCaseFolded()) || exists(inFolder(folder, candidate));
    });
}

// The files this transfer has put into the new folder so far; all are removed again unless
// every copy got its name.
class NewFiles {
public:
    explicit NewFiles(const HistoryFileOperations& files) : files(files) {}
    ~NewFiles() {
        if (!kept) removeAll();
    }
    void removeAll() {
        for (const QString& path : paths) (void)files.removeFile(path);
        paths.clear();
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

// One screenshot on its way: its copy under a hidden name until the new index lists it.
struct Copy {
    Screenshot record;  // as the new folder will list it
    QString temporary;
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
    if (old->items.isEmpty()) {
        // No screenshot to move, but an index may be left: a move stopped while it removed the
        // old files has taken every screenshot and not yet the list. It goes with the move.
        HistoryTransfer transfer;
        transfer.filesToRemove.append(inFolder(source, QStringLiteral(".history.json")));
        transfer.removeFile = files.removeFile;
        return transfer;
    }
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
        Copy copy{item, inFolder(target, temporaryName())};
        copy.record.fileName = freeName(item.fileName, claimed, target);
        claimed.insert(copy.record.fileName.toCaseFolded());
        created.add(copy.temporary);  // a copy that fails half way is removed too
        auto copied = files.copyFile(original, copy.temporary);
        if (copied) copied = files.syncToDisk(copy.temporary);
        if (!copied) return unexpected(HistoryError::folded(copied.error()));
        const auto same = sameContents(original, copy.temporary);
        if (!same) return unexpected(HistoryError::folded(same.error()));
        if (!*same) return unexpected(HistoryError::writeFailed(copyMismatchText()));
        copies.append(copy);
    }

    // The merged index goes in before any copy takes its visible name. A move stopped before
    // the index leaves only hidden copies, which the next load of the new folder clears away;
    // one stopped after it leaves every screenshot listed under the id it has in the old
    // folder, so moving again recognises them instead of adopting them as new ones.
    QList<Screenshot> merged = existing->items;
    for (const Copy& copy : copies) merged.append(copy.record);
    std::stable_sort(merged.begin(), merged.end(),
                     [](const Screenshot& a, const Screenshot& b) { return a.createdAt > b.createdAt; });
    const bool hadIndex = exists(inFolder(target, QStringLiteral(".history.json")));
    if (auto written = writeIndex(target, merged, files); !written) {
        return unexpected(HistoryError::folded(written.error()));
    }
    for (const Copy& copy : copies) {
        const QString path = inFolder(target, copy.record.fileName);
        if (auto moved = moveWithoutReplacing(copy.temporary, path); !moved) {
            // The copies go first, then the new folder gets back the list it had.
            created.removeAll();
            if (hadIndex) {
                (void)writeIndex(target, existing->items, files);
            } else {
                (void)files.removeFile(inFolder(target, QStringLiteral(".history.json")));
            }
            return unexpected(HistoryError::folded(moved.error()));
        }
        created.replace(copy.temporary, path);
    }
    flushFolder(target, files);
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
