#include "ui/previews/DragFileResolver.h"

#include "core/Types.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace quillet {

namespace {

// A folder is only ever opened as itself: a symbolic link in its place fails to open.
// O_NONBLOCK keeps a FIFO planted under a folder's name from stalling the open.
constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
// Deeper than any tree we write (root/UUID/file); anything deeper is left alone.
constexpr int maxDepth = 8;

// Closes the descriptor it holds when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd, other.fd);
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    int get() const { return fd; }
    explicit operator bool() const { return fd >= 0; }

private:
    int fd;
};

bool isOwnFolder(int folder) {
    struct stat status {};
    return ::fstat(folder, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid();
}

// Ours, and nobody else may look in or add anything: the only kind of folder we write into.
bool isPrivateFolder(int folder) {
    struct stat status {};
    return ::fstat(folder, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() &&
           (status.st_mode & 077) == 0;
}

// The root, opened as a folder that is our own (private too when we are about to write).
// Missing, it is created 0700 when `create` asks for it.
Descriptor openRoot(const QString& root, bool create) {
    const QByteArray path = QFile::encodeName(root);
    Descriptor folder(::open(path.constData(), folderFlags));
    if (!folder && errno == ENOENT && create) {
        if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) return Descriptor();
        folder = Descriptor(::open(path.constData(), folderFlags));
    }
    if (!folder) return Descriptor();
    if (!(create ? isPrivateFolder(folder.get()) : isOwnFolder(folder.get()))) return Descriptor();
    return folder;
}

void removeEntry(int parent, const char* name, int depth);

// Removes everything inside `folder`. Every step is relative to a descriptor of the folder it
// acts in and sub-folders are opened with O_NOFOLLOW, so a link, even one swapped in while we
// work, is unlinked as a link and never entered: nothing outside the opened tree is touched.
void emptyFolder(int folder, int depth) {
    if (depth > maxDepth) return;
    const int listing = ::dup(folder);
    if (listing < 0) return;
    DIR* entries = ::fdopendir(listing);
    if (!entries) {
        ::close(listing);
        return;
    }
    ::rewinddir(entries);
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(entries)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        names.emplace_back(entry->d_name);
    }
    ::closedir(entries);
    for (const std::string& name : names) removeEntry(folder, name.c_str(), depth);
}

void removeEntry(int parent, const char* name, int depth) {
    const Descriptor child(::openat(parent, name, folderFlags));
    if (!child) {
        ::unlinkat(parent, name, 0);  // a file or a link
        return;
    }
    emptyFolder(child.get(), depth + 1);
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

bool writeAll(int fd, const QByteArray& bytes) {
    const char* next = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        next += written;
        left -= written;
    }
    return true;
}

// Written aside under a hidden name and renamed into place, so a drop never sees half a file.
bool writeFileIn(int folder, const QByteArray& name, const QByteArray& bytes) {
    const QByteArray aside = ".part-" + uuidString(QUuid::createUuid()).toLatin1();
    const Descriptor out(
        ::openat(folder, aside.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out) return false;
    if (!writeAll(out.get(), bytes) || ::renameat(folder, aside.constData(), folder, name.constData()) != 0) {
        ::unlinkat(folder, aside.constData(), 0);
        return false;
    }
    return true;
}

bool isFile(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

// A name from a history record ends up as a path component: it must not climb out of the
// preview's folder or name the folder itself.
std::optional<QString> safeFileName(QString name) {
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    name.remove(QChar(0));
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return std::nullopt;
    return name;
}

}  // namespace

DragFileResolver::DragFileResolver(QString temporaryRoot) : root(std::move(temporaryRoot)) {}

QString DragFileResolver::standardRoot() {
    const QString name = QStringLiteral("org.quillet.Quillet-drag");
    // The session's runtime folder belongs to the user alone; the shared temporary directory is
    // only a fall-back, with the uid in the name so that users do not meet in one folder.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir()) {
        return QDir::cleanPath(runtime) + QLatin1Char('/') + name;
    }
    return QDir::tempPath() + QLatin1Char('/') + name + QLatin1Char('-') + QString::number(::geteuid());
}

std::optional<QString> DragFileResolver::file(const QUuid& id, const std::optional<QString>& preferred,
                                              const QString& name, const std::function<QByteArray()>& png) {
    if (preferred && !preferred->isEmpty() && isFile(*preferred)) return preferred;
    if (auto copy = copies.constFind(id); copy != copies.constEnd() && isFile(*copy)) return *copy;

    const std::optional<QString> fileName = safeFileName(name);
    if (!fileName) return std::nullopt;
    const QByteArray bytes = png ? png() : QByteArray();
    if (bytes.isEmpty()) return std::nullopt;

    const Descriptor folder = openRoot(root, true);
    if (!folder) return std::nullopt;
    const QString folderName = uuidString(id);
    const QByteArray previewName = QFile::encodeName(folderName);
    if (::mkdirat(folder.get(), previewName.constData(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    const Descriptor previewFolder(::openat(folder.get(), previewName.constData(), folderFlags));
    if (!previewFolder || !isPrivateFolder(previewFolder.get())) return std::nullopt;
    if (!writeFileIn(previewFolder.get(), QFile::encodeName(*fileName), bytes)) return std::nullopt;

    const QString path = root + QLatin1Char('/') + folderName + QLatin1Char('/') + *fileName;
    copies.insert(id, path);
    return path;
}

void DragFileResolver::discard(const QUuid& id) {
    if (!copies.remove(id)) return;
    const Descriptor folder = openRoot(root, false);
    if (folder) removeEntry(folder.get(), QFile::encodeName(uuidString(id)).constData(), 0);
}

void DragFileResolver::discardAll() {
    copies.clear();
    const QByteArray path = QFile::encodeName(root);
    const Descriptor folder = openRoot(root, false);
    if (!folder) {
        // A link of ours in the root's place is removed as a link; anything of anyone else's
        // stays as it is.
        struct stat status {};
        if (::lstat(path.constData(), &status) == 0 && S_ISLNK(status.st_mode) && status.st_uid == ::geteuid()) {
            ::unlink(path.constData());
        }
        return;
    }
    emptyFolder(folder.get(), 0);
    ::rmdir(path.constData());
}

}  // namespace quillet
