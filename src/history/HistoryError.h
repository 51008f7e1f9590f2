// What can go wrong when screenshots are stored, deleted, expired or moved, and how a failed
// file-system call is folded into it. Consumers (the recorder, the windows) choose the Russian
// text the user reads; `describe` only gives the text for the log.
//
//   HistoryError::folded(FileError::fromErrno(ENOSPC, path))   // notEnoughSpace
//   HistoryError::folded(FileError::fromErrno(EIO, path))      // writeFailed("…: Input/output error")
#pragma once

#include <QString>

namespace quillet {

// One failed file-system call: the errno it gave (0 when the failure came without one) and the
// system's text for it, naming the file.
struct FileError {
    int code = 0;
    QString description;

    static FileError fromErrno(int code, const QString& path);

    friend bool operator==(const FileError&, const FileError&) = default;
};

class HistoryError {
public:
    enum class Case {
        writeFailed,         // description: the system's text
        deleteFailed,        // description: the system's text
        notEnoughSpace,
        invalidRetention,
        unreadableImage,
        volumeNotMounted,
        folderNotWritable,
        volumeAccessDenied,  // creating the folder on an external volume was refused with EPERM
        notADirectory,       // a file, not a folder, stands where the history folder should be
        folderMissing,       // the history folder was deleted while the program ran
    };

    HistoryError() = default;

    static HistoryError writeFailed(const QString& description) { return {Case::writeFailed, description}; }
    static HistoryError deleteFailed(const QString& description) { return {Case::deleteFailed, description}; }
    static HistoryError notEnoughSpace() { return {Case::notEnoughSpace, {}}; }
    static HistoryError invalidRetention() { return {Case::invalidRetention, {}}; }
    static HistoryError unreadableImage() { return {Case::unreadableImage, {}}; }
    static HistoryError volumeNotMounted() { return {Case::volumeNotMounted, {}}; }
    static HistoryError folderNotWritable() { return {Case::folderNotWritable, {}}; }
    static HistoryError volumeAccessDenied() { return {Case::volumeAccessDenied, {}}; }
    static HistoryError notADirectory() { return {Case::notADirectory, {}}; }
    static HistoryError folderMissing() { return {Case::folderMissing, {}}; }

    // The folding rule: a full disk or an exhausted quota (ENOSPC, EDQUOT) is notEnoughSpace,
    // a file in the way of the folder (ENOTDIR) notADirectory, a refused or read-only write
    // (EACCES, EROFS) folderNotWritable, every other failure writeFailed with the system's
    // text. A HistoryError stays as it is. The user is told which of these it was.
    static HistoryError folded(const FileError& failure);
    static HistoryError folded(const HistoryError& error) { return error; }

    Case kind = Case::writeFailed;
    QString description;  // only writeFailed and deleteFailed carry one

    friend bool operator==(const HistoryError&, const HistoryError&) = default;

private:
    HistoryError(Case c, const QString& text) : kind(c), description(text) {}
};

// The text a log line carries for `error`.
QString describe(const HistoryError& error);

}  // namespace quillet
