// Keeps one Quillet running per user session. The first start takes a lock file and listens
// on a local socket in $XDG_RUNTIME_DIR; a later start finds the lock taken, hands its command
// line to the running one over the socket and exits, so only one process listens to the keys
// and writes the history. A lock left by a crashed process is taken over (QLockFile checks
// whether its process still lives).
//
//   SingleInstance instance(SingleInstance::defaultFolder());
//   switch (instance.claim(arguments)) {
//   case SingleInstance::Role::handedOver: return 0;
//   case SingleInstance::Role::primary: connect(&instance, &SingleInstance::received, ...);
//   }
//
// Main thread only. `claim` blocks for the hand-over, which happens before any event loop runs.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QStringList>

#include <chrono>
#include <memory>

namespace quillet {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role {
        primary,     // this process runs Quillet and listens for later starts
        handedOver,  // a running Quillet took the arguments
        failed,      // another one holds the lock but did not answer; see errorText()
    };

    // $XDG_RUNTIME_DIR, or a folder of the user's own in the temporary folder.
    static QString defaultFolder();

    explicit SingleInstance(const QString& folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // `arguments` as argv, program name first. Waits at most `patience` for a running instance
    // that is still starting up to listen.
    Role claim(const QStringList& arguments, std::chrono::milliseconds patience = std::chrono::seconds(10));
    QString errorText() const { return error; }
    QString socketPath() const;

Q_SIGNALS:
    // In the primary: a later start's command line, program name first.
    void received(const QStringList& arguments);

private:
    bool listen();
    bool handOver(const QByteArray& message);

    QString folder;
    std::unique_ptr<QLockFile> lock;
    QLocalServer server;
    QString error;
};

}  // namespace quillet
