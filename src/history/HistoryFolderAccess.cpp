#include "history/HistoryFolderAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace quillet {

namespace {

QString standardized(const QString& path) {
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
}

QStringList components(const QString& path) { return standardized(path).split(u'/', Qt::SkipEmptyParts); }

QString userName() {
    long bufferSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(bufferSize > 0 ? static_cast<std::size_t>(bufferSize) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name) {
        return QFile::decodeName(found->pw_name);
    }
    return qEnvironmentVariable("USER");
}

// The names in a folder; hidden ones only when asked for, and only regular files (or links to
// them) when asked for: the kind comes from the listing itself or from fstatat, which follows a
// link but opens nothing, so a named pipe is never read. "." and ".." never.
Expected<QStringList, FileError> readNames(const QString& path, bool withHidden, bool regularOnly = false) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(QFile::encodeName(path).constData()), closedir);
    if (!dir) return unexpected(FileError::fromErrno(errno, path));
    QStringList names;
    errno = 0;
    while (const dirent* entry = readdir(dir.get())) {
        const char* name = entry->d_name;
        if (name[0] == '.') {
            if (!withHidden || name[1] == '\0' || (name[1] == '.' && name[2] == '\0')) continue;
        }
        if (regularOnly && entry->d_type != DT_REG) {
            struct stat info{};
            if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) continue;
            if (::fstatat(dirfd(dir.get()), name, &info, 0) != 0 || !S_ISREG(info.st_mode)) continue;
        }
        names.append(QFile::decodeName(name));
    }
    if (errno != 0) return unexpected(FileError::fromErrno(errno, path));
    return names;
}

bool isDirectory(const QByteArray& path) {
    struct stat info{};
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

Expected<void, FileError> makePath(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    if (isDirectory(native)) return {};
    if (::mkdir(native.constData(), 0777) == 0) return {};
    int failure = errno;
    if (failure == ENOENT) {
        const QString parent = QFileInfo(path).path();
        if (parent == path) return unexpected(FileError::fromErrno(failure, path));
        if (auto made = makePath(parent); !made) return made;
        if (::mkdir(native.constData(), 0777) == 0) return {};
        failure = errno;
    }
    // Somebody else may have made it in the meantime.
    if (failure == EEXIST && isDirectory(native)) return {};
    return unexpected(FileError::fromErrno(failure == EEXIST ? ENOTDIR : failure, path));
}

// Mount points in /proc/self/mountinfo escape space, tab, newline and backslash as octal.
QString unescapedMountPath(const QByteArray& field) {
    QByteArray path;
    path.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                path.append(static_cast<char>(code));
                i += 3;
                continue;
            }
        }
        path.append(field[i]);
    }
    return QFile::decodeName(path);
}

bool listedInMountInfo(const QString& path) {
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly)) return false;
    // The file is generated on read; readAll copes with its zero size.
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 4 && unescapedMountPath(fields[4]) == path) return true;
    }
    return false;
}

bool isPermissionRefusal(const FileError& failure) { return failure.code == EPERM || failure.code == EACCES; }

}  // namespace

HistoryFolderAccess HistoryFolderAccess::system() {
    HistoryFolderAccess access;
    const QString user = userName();
    if (!user.isEmpty() && !user.contains(u'/')) {
        access.volumesRoots << QStringLiteral("/media/") + user << QStringLiteral("/run/media/") + user;
    }
    access.volumesRoots << QStringLiteral("/mnt");
    access.isMountPoint = &HistoryFolderAccess::isRealMountPoint;
    access.createDirectory = makePath;
    access.listDirectory = [](const QString& path) { return readNames(path, true); };
    access.listFolder = [](const QString& path) { return readNames(path, false, true); };
    access.isWritable = [](const QString& path) { return ::access(QFile::encodeName(path).constData(), W_OK) == 0; };
    return access;
}

bool HistoryFolderAccess::isRealMountPoint(const QString& path) {
    const QString resolved = QFileInfo(path).canonicalFilePath();
    if (resolved.isEmpty()) return false;
    if (resolved == QLatin1String("/")) return true;
    struct stat self{};
    struct stat parent{};
    if (::stat(QFile::encodeName(resolved).constData(), &self) != 0) return false;
    if (::stat(QFile::encodeName(QFileInfo(resolved).path()).constData(), &parent) != 0) return false;
    if (self.st_dev != parent.st_dev) return true;
    // A bind mount or a second mount of the same device keeps the parent's device number.
    return listedInMountInfo(resolved);
}

std::optional<QString> HistoryFolderAccess::volume(const QString& folder) const {
    const QStringList folderParts = components(folder);
    for (const QString& root : volumesRoots) {
        const QStringList rootParts = components(root);
        if (folderParts.size() <= rootParts.size()) continue;
        if (!std::equal(rootParts.begin(), rootParts.end(), folderParts.begin())) continue;
        return QLatin1Char('/') + folderParts.mid(0, rootParts.size() + 1).join(u'/');
    }
    return std::nullopt;
}

bool HistoryFolderAccess::isExternal(const QString& folder) const {
    const auto root = volume(folder);
    if (!root) return false;
    // A volume name that links back to the system disk is not external.
    const QString resolved = QFileInfo(*root).canonicalFilePath();
    return (resolved.isEmpty() ? *root : resolved) != QLatin1String("/");
}

bool HistoryFolderAccess::isVolumeMounted(const QString& folder) const {
    const auto root = volume(folder);
    if (!root) return true;
    if (!isDirectory(QFile::encodeName(*root))) return false;
    return isMountPoint(*root);
}

Expected<void, HistoryError> HistoryFolderAccess::prepare(const QString& folder) const {
    if (!isVolumeMounted(folder)) return unexpected(HistoryError::volumeNotMounted());
    if (auto created = createDirectory(folder); !created) {
        if (isExternal(folder) && created.error().code == EPERM) return unexpected(HistoryError::volumeAccessDenied());
        return unexpected(HistoryError::folded(created.error()));
    }
    if (!isWritable(folder)) return unexpected(HistoryError::folderNotWritable());
    return {};
}

VolumeAccess HistoryFolderAccess::removableVolumeAccess(const QString& folder) const {
    const auto root = volume(folder);
    if (!root || !isExternal(folder)) return VolumeAccess::notExternal;
    if (!isVolumeMounted(folder)) return VolumeAccess::notMounted;
    const auto listed = listDirectory(*root);
    // Only a refusal means "no access"; a volume that vanished a moment ago is not our business here.
    if (!listed && isPermissionRefusal(listed.error())) return VolumeAccess::denied;
    return VolumeAccess::granted;
}

Expected<QStringList, FileError> HistoryFolderAccess::pngNames(const QString& folder) const {
    auto listed = listFolder(folder);
    if (!listed) return listed;
    QStringList names;
    names.reserve(listed->size());
    for (const QString& name : *listed) {
        if (name.size() > 4 && !name.startsWith(u'.') && name.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)) {
            names.append(name);
        }
    }
    return names;
}

}  // namespace quillet
