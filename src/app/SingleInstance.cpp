#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QThread>

#include <unistd.h>

namespace quillet {

namespace {

const QString baseName = QStringLiteral("org.quillet.Quillet");
constexpr int messageLimit = 64 * 1024;

}  // namespace

QString SingleInstance::defaultFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists()) return runtime;
    // Without a runtime folder: one named after the user, so users never meet each other's.
    const QString own = QDir::temp().filePath(QStringLiteral("%1-%2").arg(baseName).arg(::getuid()));
    QDir().mkpath(own);
    QFile::setPermissions(own, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return own;
}

SingleInstance::SingleInstance(const QString& folder, QObject* parent) : QObject(parent), folder(folder) {
    // Only this user may hand us a command line.
    server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) {
                    if (socket->bytesAvailable() > messageLimit) socket->abort();
                    return;
                }
                const QJsonDocument message = QJsonDocument::fromJson(socket->readLine(messageLimit).trimmed());
                QStringList arguments;
                for (const QJsonValue& value : message.array()) arguments << value.toString();
                socket->write("ok\n");
                socket->disconnectFromServer();
                if (message.isArray()) Q_EMIT received(arguments);
            });
        }
    });
}

SingleInstance::~SingleInstance() {
    server.close();
    // The lock goes last, so a start that finds it free also finds the socket gone.
    lock.reset();
}

QString SingleInstance::socketPath() const { return QDir(folder).filePath(baseName + QStringLiteral(".socket")); }

SingleInstance::Role SingleInstance::claim(const QStringList& arguments, std::chrono::milliseconds patience) {
    const QByteArray message = QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact) + '\n';
    QDeadlineTimer deadline(patience);
    do {
        auto candidate = std::make_unique<QLockFile>(QDir(folder).filePath(baseName + QStringLiteral(".lock")));
        // Stale only when its process is gone: a live holder is never taken over, however old.
        candidate->setStaleLockTime(0);
        if (candidate->tryLock(0)) {
            lock = std::move(candidate);
            if (listen()) return Role::primary;
            lock.reset();
            return Role::failed;
        }
        // The running one may still be starting and not listen yet, or may have just quit.
        if (handOver(message)) return Role::handedOver;
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    error = QStringLiteral("Quillet уже запущен, но не отвечает (%1): %2").arg(socketPath(), error);
    return Role::failed;
}

bool SingleInstance::listen() {
    // A socket file left by a process that died can only be ours: we hold the lock.
    QLocalServer::removeServer(socketPath());
    if (!server.listen(socketPath())) {
        error = QStringLiteral("%1: %2").arg(socketPath(), server.errorString());
        return false;
    }
    return true;
}

bool SingleInstance::handOver(const QByteArray& message) {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(1000)) {
        error = socket.errorString();
        return false;
    }
    socket.write(message);
    // The answer says the running one has read the whole command line.
    while (!socket.canReadLine() && socket.waitForReadyRead(2000)) {
    }
    if (socket.canReadLine() && socket.readLine().trimmed() == "ok") return true;
    error = socket.errorString();
    return false;
}

}  // namespace quillet
