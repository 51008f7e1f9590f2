// The copying half of moving the history to another folder: every screenshot of the old
// folder is copied into the new one, each copy checked byte for byte, renamed on a name clash,
// and a merged index written there. The old files go only when the move is committed, after
// the store has switched folders; a failure before that leaves the new folder as it was.
//
//   auto transfer = HistoryTransfer::perform(oldFolder, newFolder, access);
//   if (!transfer) return transfer.error();
//   switchTo(newFolder);
//   transfer->commit();
#pragma once

#include "core/Expected.h"
#include "history/HistoryError.h"
#include "history/HistoryFiles.h"
#include "history/HistoryFolderAccess.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

namespace quillet {

class HistoryTransfer {
public:
    // The error of a copy that differs from its original.
    static QString copyMismatchText() { return QStringLiteral("копия снимка не совпала с оригиналом"); }

    // Nothing copied, nothing to remove.
    static HistoryTransfer nothingToMove() { return HistoryTransfer(); }

    // Copies the history of `from` into `to`, merging it with a history already there. Every
    // failure is folded into a HistoryError and leaves `to` without any file of this transfer.
    // `clock` dates PNG files whose own dates cannot be read.
    static Expected<HistoryTransfer, HistoryError> perform(
        const QString& from, const QString& to, const HistoryFolderAccess& access,
        const HistoryFileOperations& files = HistoryFileOperations::system(),
        const std::function<QDateTime()>& clock = &QDateTime::currentDateTimeUtc);

    // Removes the old files: each copied screenshot, then the old index. A file that cannot be
    // removed stays; the old folder and every other file in it stay too.
    void commit() const;

    // The screenshots of the old folder that the new one holds after the move.
    qsizetype movedCount() const { return count; }
    // The files commit() removes, in that order.
    const QStringList& oldFiles() const { return filesToRemove; }

private:
    HistoryTransfer() = default;

    qsizetype count = 0;
    QStringList filesToRemove;
    HistoryFileOperations::RemoveFile removeFile;
};

}  // namespace quillet
