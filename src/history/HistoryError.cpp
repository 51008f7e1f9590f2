#include "history/HistoryError.h"

#include <QtGlobal>

#include <cerrno>

namespace quillet {

FileError FileError::fromErrno(int code, const QString& path) {
    return {code, QStringLiteral("%1: %2").arg(path, qt_error_string(code))};
}

HistoryError HistoryError::folded(const FileError& failure) {
    if (failure.code == ENOSPC || failure.code == EDQUOT) return notEnoughSpace();
    if (failure.code == ENOTDIR) return notADirectory();
    if (failure.code == EACCES || failure.code == EROFS) return folderNotWritable();
    return writeFailed(failure.description);
}

QString describe(const HistoryError& error) {
    switch (error.kind) {
    case HistoryError::Case::writeFailed:
    case HistoryError::Case::deleteFailed: return error.description;
    case HistoryError::Case::notEnoughSpace: return QStringLiteral("на диске нет места");
    case HistoryError::Case::invalidRetention: return QStringLiteral("недопустимый срок хранения");
    case HistoryError::Case::unreadableImage: return QStringLiteral("изображение не удалось закодировать в PNG");
    case HistoryError::Case::volumeNotMounted: return QStringLiteral("диск с историей не подключён");
    case HistoryError::Case::folderNotWritable: return QStringLiteral("в папку истории нельзя записывать");
    case HistoryError::Case::volumeAccessDenied: return QStringLiteral("нет доступа к диску с историей");
    case HistoryError::Case::notADirectory: return QStringLiteral("на месте папки истории находится файл");
    case HistoryError::Case::folderMissing: return QStringLiteral("папка истории удалена");
    }
    return error.description;
}

}  // namespace quillet
