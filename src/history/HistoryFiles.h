// The file operations the history store and the history transfer share: tests on paths, a
// move that never replaces, the index swapped in by one rename, the hidden temporary names a
// load clears away, and the copy and byte comparison a transfer checks its copies with.
//
//   HistoryFiles::writeIndex(folder, items, files);   // ".history.json" replaced whole
#pragma once

#include "core/Expected.h"
#include "core/Types.h"
#include "history/HistoryError.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace quillet {

// The primitives every history file operation goes through; tests make them fail.
struct HistoryFileOperations {
    using WriteFile = std::function<Expected<void, FileError>(const QByteArray& data, const QString& path)>;
    using RemoveFile = std::function<Expected<void, FileError>(const QString& path)>;
    // Flushes a file's bytes, or a folder's entries, to the disk.
    using SyncToDisk = std::function<Expected<void, FileError>(const QString& path)>;
    // Copies a file to a name that must not exist yet.
    using CopyFile = std::function<Expected<void, FileError>(const QString& from, const QString& to)>;

    WriteFile writeFile;
    RemoveFile removeFile;
    SyncToDisk syncToDisk;
    CopyFile copyFile;

    // A plain write, unlink, fsync and a read-write copy that keeps the modification time.
    static HistoryFileOperations system();
};

namespace HistoryFiles {

inline constexpr char16_t temporaryPrefix[] = u".tmp-";
inline constexpr char16_t temporaryIndexPrefix[] = u".history.json.tmp-";

Expected<void, FileError> systemWriteFile(const QByteArray& data, const QString& path);
Expected<void, FileError> systemRemoveFile(const QString& path);
Expected<void, FileError> systemSyncToDisk(const QString& path);
Expected<void, FileError> systemCopyFile(const QString& from, const QString& to);

QByteArray nativePath(const QString& path);
// Without following a final symbolic link.
bool exists(const QString& path);
// A regular file, or a symbolic link to one; decided without opening anything, because opening
// a named pipe that merely looks like a PNG would block until somebody writes into it.
bool isRegularFile(const QString& path);
// The bytes of a regular file of at most `maxBytes`. The file is opened without blocking and
// checked on the open handle, so a pipe swapped in after a check cannot hold us; anything but a
// regular file fails with EINVAL, a longer one with EFBIG.
Expected<QByteArray, FileError> readRegularFile(const QString& path, qint64 maxBytes);
// The pixel size of a regular file's first image, opened the same way; none for anything else.
std::optional<PixelSize> readImageSize(const QString& path);
bool isDirectory(const QString& path);
// Both names reach one existing folder (a symbolic link, a bind mount).
bool isSameDirectory(const QString& a, const QString& b);
// Absolute, without "." and ".." components or a trailing slash.
QString standardized(const QString& path);

// Creation times are whole seconds since 1970, rounded down.
QDateTime wholeSeconds(const QDateTime& date);
// Only a plain name directly inside the folder: an index cannot point anywhere else.
bool isPlainFileName(const QString& name);
// What an interrupted run may leave: a PNG or a copy being written, or an index being written.
bool isLeftoverTemporary(const QString& name);
// ".tmp-" + a new UUID in upper case, followed by `extension`.
QString temporaryName(const QString& extension = {});

// The system's failure for the last call, naming `path`; EIO when errno says nothing.
FileError lastError(const QString& path);
// Fails rather than replace a file of the name `to`.
Expected<void, FileError> moveWithoutReplacing(const QString& from, const QString& to);
// Atomically replaces `to`.
Expected<void, FileError> replace(const QString& from, const QString& to);
// Whether two files hold the same bytes.
Expected<bool, FileError> sameContents(const QString& a, const QString& b);

// A failure to flush a folder after a rename cannot be undone and fails nothing; it only loses
// the guarantee across a power cut, so it is logged.
void flushFolder(const QString& folder, const HistoryFileOperations& files);
// Writes the index aside, flushes it and renames it over ".history.json", so a crash leaves the
// old index or the new one, never half of either. The aside copy is removed on failure.
Expected<void, FileError> writeIndex(const QString& folder, const QList<Screenshot>& items,
                                     const HistoryFileOperations& files);

}  // namespace HistoryFiles

}  // namespace quillet
