#include "history/HistoryFiles.h"

#include "core/Logging.h"
#include "history/HistoryIndex.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTimeZone>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace quillet {

HistoryFileOperations HistoryFileOperations::system() {
    return {&HistoryFiles::systemWriteFile, &HistoryFiles::systemRemoveFile, &HistoryFiles::systemSyncToDisk,
            &HistoryFiles::systemCopyFile};
}

namespace HistoryFiles {

namespace {

// Closes a descriptor on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }
    bool isOpen() const { return fd >= 0; }
    // Closes now and reports what close said: network file systems may report a failed write
    // only here.
    bool close() {
        const int result = ::close(fd);
        fd = -1;
        return result == 0;
    }

private:
    int fd;
};

Expected<void, FileError> writeAll(int fd, const char* bytes, qsizetype count, const QString& path) {
    while (count > 0) {
        const ssize_t written = ::write(fd, bytes, static_cast<size_t>(count));
        if (written < 0) {
            if (errno == EINTR) continue;
            return unexpected(lastError(path));
        }
        bytes += written;
        count -= written;
    }
    return {};
}

// Reads up to `count` bytes, fewer only at the end of the file.
ssize_t readFull(int fd, char* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd, buffer + done, count - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

constexpr size_t chunkSize = 256 * 1024;

// Opens for reading without waiting on a pipe or device, and only a regular file.
Expected<int, FileError> openRegular(const QString& path) {
    const int fd = ::open(nativePath(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return unexpected(lastError(path));
    struct stat info{};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int code = errno;
        ::close(fd);
        return unexpected(FileError::fromErrno(S_ISREG(info.st_mode) ? code : EINVAL, path));
    }
    return fd;
}

}  // namespace

Expected<void, FileError> systemWriteFile(const QByteArray& data, const QString& path) {
    Descriptor file(::open(nativePath(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file.isOpen()) return unexpected(lastError(path));
    if (auto written = writeAll(file.get(), data.constData(), data.size(), path); !written) return written;
    if (!file.close()) return unexpected(lastError(path));
    return {};
}

Expected<void, FileError> systemRemoveFile(const QString& path) {
    if (::unlink(nativePath(path).constData()) != 0) return unexpected(lastError(path));
    return {};
}

Expected<void, FileError> systemSyncToDisk(const QString& path) {
    Descriptor file(::open(nativePath(path).constData(), O_RDONLY | O_CLOEXEC));
    if (!file.isOpen()) return unexpected(lastError(path));
    // A file system that cannot flush (some special ones) has nothing to report.
    if (::fsync(file.get()) != 0 && errno != EINVAL && errno != ENOTSUP) return unexpected(lastError(path));
    return {};
}

Expected<void, FileError> systemCopyFile(const QString& from, const QString& to) {
    const auto opened = openRegular(from);
    if (!opened) return unexpected(opened.error());
    Descriptor source(*opened);
    struct stat info{};
    if (::fstat(source.get(), &info) != 0) return unexpected(lastError(from));
    Descriptor target(::open(nativePath(to).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!target.isOpen()) return unexpected(lastError(to));

    const auto buffer = std::make_unique<char[]>(chunkSize);
    for (;;) {
        const ssize_t got = readFull(source.get(), buffer.get(), chunkSize);
        if (got < 0) return unexpected(lastError(from));
        if (got == 0) break;
        if (auto written = writeAll(target.get(), buffer.get(), got, to); !written) return written;
    }
    // A history whose index is later lost adopts its files with their dates; the copy keeps the
    // original's where the file system has no creation date of its own.
    const timespec times[2] = {info.st_atim, info.st_mtim};
    (void)::futimens(target.get(), times);
    if (!target.close()) return unexpected(lastError(to));
    return {};
}

QByteArray nativePath(const QString& path) { return QFile::encodeName(path); }

bool exists(const QString& path) {
    struct stat info{};
    return ::lstat(nativePath(path).constData(), &info) == 0;
}

bool isRegularFile(const QString& path) {
    struct stat info{};
    return ::stat(nativePath(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

Expected<QByteArray, FileError> readRegularFile(const QString& path, qint64 maxBytes) {
    const auto opened = openRegular(path);
    if (!opened) return unexpected(opened.error());
    QFile file;
    if (!file.open(*opened, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(*opened);
        return unexpected(FileError::fromErrno(EIO, path));
    }
    if (file.size() > maxBytes) return unexpected(FileError::fromErrno(EFBIG, path));
    QByteArray bytes = file.read(maxBytes + 1);
    if (bytes.size() > maxBytes) return unexpected(FileError::fromErrno(EFBIG, path));
    return bytes;
}

std::optional<PixelSize> readImageSize(const QString& path) {
    const auto opened = openRegular(path);
    if (!opened) return std::nullopt;
    QFile file;
    if (!file.open(*opened, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(*opened);
        return std::nullopt;
    }
    QImageReader reader(&file);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty()) return std::nullopt;
    return PixelSize{size.width(), size.height()};
}

bool isDirectory(const QString& path) {
    struct stat info{};
    return ::stat(nativePath(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isSameDirectory(const QString& a, const QString& b) {
    struct stat first{};
    struct stat second{};
    return ::stat(nativePath(a).constData(), &first) == 0 && ::stat(nativePath(b).constData(), &second) == 0 &&
           S_ISDIR(first.st_mode) && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

QString standardized(const QString& path) {
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
}

QDateTime wholeSeconds(const QDateTime& date) {
    const qint64 ms = date.toMSecsSinceEpoch();
    const qint64 seconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc());
}

bool isPlainFileName(const QString& name) {
    return !name.isEmpty() && !name.startsWith(u'.') && !name.contains(u'/') && !name.contains(QChar(u'\0'));
}

bool isLeftoverTemporary(const QString& name) {
    return name.startsWith(QStringView(temporaryPrefix)) || name.startsWith(QStringView(temporaryIndexPrefix));
}

QString temporaryName(const QString& extension) {
    return QStringView(temporaryPrefix).toString() + uuidString(QUuid::createUuid()) + extension;
}

FileError lastError(const QString& path) { return FileError::fromErrno(errno != 0 ? errno : EIO, path); }

Expected<void, FileError> moveWithoutReplacing(const QString& from, const QString& to) {
    const QByteArray source = nativePath(from);
    const QByteArray target = nativePath(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return unexpected(lastError(to));
    // File systems without RENAME_NOREPLACE (FAT on a USB stick, some network shares): a hard
    // link fails rather than replace; without hard links the store's one write queue keeps the name free
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

Expected<bool, FileError> sameContents(const QString& a, const QString& b) {
    const auto openedFirst = openRegular(a);
    if (!openedFirst) return unexpected(openedFirst.error());
    Descriptor first(*openedFirst);
    const auto openedSecond = openRegular(b);
    if (!openedSecond) return unexpected(openedSecond.error());
    Descriptor second(*openedSecond);
    struct stat firstInfo{};
    struct stat secondInfo{};
    if (::fstat(first.get(), &firstInfo) != 0) return unexpected(lastError(a));
    if (::fstat(second.get(), &secondInfo) != 0) return unexpected(lastError(b));
    if (firstInfo.st_size != secondInfo.st_size) return false;

    const auto left = std::make_unique<char[]>(chunkSize);
    const auto right = std::make_unique<char[]>(chunkSize);
    for (;;) {
        const ssize_t leftCount = readFull(first.get(), left.get(), chunkSize);
        if (leftCount < 0) return unexpected(lastError(a));
        const ssize_t rightCount = readFull(second.get(), right.get(), chunkSize);
        if (rightCount < 0) return unexpected(lastError(b));
        if (leftCount != rightCount || std::memcmp(left.get(), right.get(), static_cast<size_t>(leftCount)) != 0) {
            return false;
        }
        if (leftCount == 0) return true;
    }
}

void flushFolder(const QString& folder, const HistoryFileOperations& files) {
    if (auto synced = files.syncToDisk(folder); !synced) {
        qCWarning(lcHistory, "Не удалось сбросить папку истории на диск: %s", qUtf8Printable(synced.error().description));
    }
}

Expected<void, FileError> writeIndex(const QString& folder, const QList<Screenshot>& items,
                                     const HistoryFileOperations& files) {
    const QString temporary =
        folder + QLatin1Char('/') + QStringView(temporaryIndexPrefix).toString() + uuidString(QUuid::createUuid());
    const QByteArray bytes = HistoryIndex{HistoryIndex::currentVersion, items}.encoded();
    auto written = files.writeFile(bytes, temporary);
    if (written) written = files.syncToDisk(temporary);
    if (written) written = replace(temporary, folder + QLatin1String("/.history.json"));
    if (!written) {
        (void)files.removeFile(temporary);
        return written;
    }
    flushFolder(folder, files);
    return {};
}

}  // namespace HistoryFiles

}  // namespace quillet
