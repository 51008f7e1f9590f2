#include "platform/desktop/FileManagerReveal.h"

#include "core/Logging.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace quillet {

namespace {

void openFolder(const QString& path) {
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
    if (!QDesktopServices::openUrl(folder)) {
        qCWarning(lcApp, "Не удалось показать файл в файловом менеджере: %s", qUtf8Printable(path));
    }
}

}  // namespace

void FileManagerReveal::reveal(const QString& path) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder(path);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    // A file manager that is started by the call may take a while to answer.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 10000), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [path](QDBusPendingCallWatcher* finished) {
        const QDBusPendingReply<> reply = *finished;
        if (reply.isError()) openFolder(path);
        finished->deleteLater();
    });
}

}  // namespace quillet
