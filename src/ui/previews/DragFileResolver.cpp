#include "ui/previews/DragFileResolver.h"

#include "core/Types.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <unistd.h>

namespace quillet {

namespace {

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

QString DragFileResolver::standardRoot() { return QDir::tempPath() + QStringLiteral("/org.quillet.Quillet-drag"); }

std::optional<QString> DragFileResolver::file(const QUuid& id, const std::optional<QString>& preferred,
                                              const QString& name, const std::function<QByteArray()>& png) {
    if (preferred && !preferred->isEmpty() && isFile(*preferred)) return preferred;
    if (auto copy = copies.constFind(id); copy != copies.constEnd() && isFile(*copy)) return *copy;

    const std::optional<QString> fileName = safeFileName(name);
    if (!fileName) return std::nullopt;
    const QByteArray bytes = png ? png() : QByteArray();
    if (bytes.isEmpty()) return std::nullopt;

    if (!prepareRoot()) return std::nullopt;
    const QString folder = root + QLatin1Char('/') + uuidString(id);
    if (!QDir().mkpath(folder)) return std::nullopt;
    const QString path = folder + QLatin1Char('/') + *fileName;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) return std::nullopt;

    copies.insert(id, path);
    return path;
}

void DragFileResolver::discard(const QUuid& id) {
    if (!copies.remove(id)) return;
    QDir(root + QLatin1Char('/') + uuidString(id)).removeRecursively();
}

void DragFileResolver::discardAll() {
    copies.clear();
    // The temporary directory is shared with other users: a root that is a symbolic link is
    // only unlinked, never followed.
    const QFileInfo info(root);
    if (info.isSymLink()) {
        QFile::remove(root);
        return;
    }
    if (info.isDir()) QDir(root).removeRecursively();
}

bool DragFileResolver::prepareRoot() const {
    QFileInfo info(root);
    if (!info.exists() && !info.isSymLink()) {
        if (!QDir().mkpath(root)) return false;
        QFile::setPermissions(root, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        info.refresh();
    }
    // Write only into a real folder of our own, so nobody else can redirect or read the copies.
    return info.isDir() && !info.isSymLink() && info.ownerId() == ::getuid();
}

}  // namespace quillet
