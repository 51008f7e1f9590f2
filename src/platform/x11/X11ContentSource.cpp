#include "platform/x11/X11ContentSource.h"

#include "core/Async.h"
#include "platform/x11/DisplayMap.h"
#include "platform/x11/EwmhWindowList.h"
#include "platform/x11/OwnWindowWithdrawal.h"
#include "platform/x11/ShmGrabber.h"
#include "platform/x11/X11Connection.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

namespace quillet {

X11ContentSource::X11ContentSource()
    : pid(QCoreApplication::applicationPid()),
      connection(std::make_shared<X11Connection>()),
      displayMap(std::make_shared<DisplayMap>(connection)),
      windows(std::make_unique<EwmhWindowList>(connection, displayMap)),
      grabber(std::make_shared<ShmGrabber>(connection, displayMap)),
      withdrawal(std::make_shared<OwnWindowWithdrawal>(connection, displayMap)),
      screenWatcher(std::make_unique<QObject>()) {
    rebuildDisplays();
    QObject* watcher = screenWatcher.get();
    bufferRelease = new QTimer(watcher);
    bufferRelease->setSingleShot(true);
    bufferRelease->setInterval(buffersKeptFor);
    QObject::connect(bufferRelease, &QTimer::timeout, watcher, [this] {
        // A grab running right now keeps them; it starts the wait again when it ends.
        (void)grabber->releaseBuffers();
    });
    // After the capture's own work (encoding on every core) has had its moment.
    standbyPreparation = new QTimer(watcher);
    standbyPreparation->setSingleShot(true);
    standbyPreparation->setInterval(standbyAfter);
    QObject::connect(standbyPreparation, &QTimer::timeout, watcher, [grabber = grabber] {
        (void)runInBackground([grabber] { grabber->prepareStandby(); });
    });
    // Screens come and go in steps; the table is rebuilt once Qt has settled. The watcher dies
    // first, taking queued rebuilds with it.
    const auto rebuild = [this, watcher] { runOnMainThread(watcher, [this] { rebuildDisplays(); }); };
    const auto follow = [watcher, rebuild](QScreen* screen) {
        QObject::connect(screen, &QScreen::geometryChanged, watcher, rebuild);
    };
    for (QScreen* screen : QGuiApplication::screens()) follow(screen);
    QObject::connect(qGuiApp, &QGuiApplication::screenAdded, watcher, [follow, rebuild](QScreen* screen) {
        follow(screen);
        rebuild();
    });
    QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, watcher, rebuild);
    QObject::connect(qGuiApp, &QGuiApplication::primaryScreenChanged, watcher, rebuild);
}

X11ContentSource::~X11ContentSource() { screenWatcher.reset(); }

void X11ContentSource::rebuildDisplays() {
    displayMap->rebuild();
    std::function<void()> handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = onDisplaysChange;
    }
    if (handler) handler();
}

void X11ContentSource::keepBuffersAWhile() {
    bufferRelease->start();
    standbyPreparation->start();
}

bool X11ContentSource::isConnected() const { return connection->isConnected(); }

qint64 X11ContentSource::processID() { return pid; }

QList<ShareableDisplay> X11ContentSource::displays() { return displayMap->displays(); }

std::uint32_t X11ContentSource::mainDisplayID() { return displayMap->mainDisplayID(); }

std::optional<QList<WindowInfo>> X11ContentSource::windowList() { return windows->list(); }

Expected<ShareableContent, CaptureError> X11ContentSource::fetchContent() {
    if (!connection->isConnected()) return unexpected(CaptureError::grabFailed);
    ShareableContent content;
    content.displays = displays();
    for (const WindowInfo& info : windows->list().value_or(QList<WindowInfo>{})) {
        if (info.layer == desktopLayer || !info.frame) continue;
        content.windows << ShareableWindow{info.id, info.processID, *info.frame};
        if (info.processID && !content.applications.contains(*info.processID)) content.applications << *info.processID;
    }
    return content;
}

Expected<QList<QImage>, CaptureError> X11ContentSource::grab(const QList<GrabArea>& areas,
                                                            const QList<qint64>& excludedApplications) {
    if (!connection->isConnected() || !connection->pixelsReadable()) return unexpected(CaptureError::grabFailed);
    // Only our own windows can be taken off the screen; X11 has no way to leave out others'.
    std::optional<OwnWindowWithdrawal::Withdrawn> withdrawn;
    if (excludedApplications.contains(pid)) {
        withdrawn = withdrawal->withdraw();
        if (!withdrawn) return unexpected(CaptureError::grabFailed);
    }
    const QList<QImage> images = grabber->grab(areas);
    if (withdrawn) withdrawal->restore(*withdrawn);
    runOnMainThread(screenWatcher.get(), [this] { keepBuffersAWhile(); });
    if (images.size() != areas.size()) return unexpected(CaptureError::grabFailed);
    return images;
}

void X11ContentSource::setOnDisplaysChange(std::function<void()> handler) {
    std::lock_guard lock(handlerMutex);
    onDisplaysChange = std::move(handler);
}

}  // namespace quillet
