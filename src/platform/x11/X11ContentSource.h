// The X11 side of the screen capturer: displays from QScreen and the RandR monitors behind
// them (DisplayMap), windows from the window manager's EWMH lists (EwmhWindowList), and grabs
// of the root window through MIT-SHM (ShmGrabber), all over a connection of its own
// (X11Connection).
//
// X11 cannot leave one application out of a grab, so when a grab must exclude this process,
// its visible windows are withdrawn for that moment (OwnWindowWithdrawal) and shown again
// afterwards.
//
//   auto source = std::make_shared<X11ContentSource>();   // main thread, Qt on xcb
//   ScreenCapturer capturer(source);
//
// The last grab's images, kept for the next grab to fill (a frame of each display), stay while
// captures follow one another and are let go `buffersKeptFor` after the last grab.
//
// Constructed and destroyed on the main thread; everything else may run on any thread.
#pragma once

#include "capture/ContentSourcing.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

class QTimer;

namespace quillet {

class DisplayMap;
class EwmhWindowList;
class OwnWindowWithdrawal;
class ShmGrabber;
class X11Connection;

class X11ContentSource : public ContentSourcing {
public:
    // The layers of windows that are not ordinary application windows (which are on layer 0).
    static constexpr int desktopLayer = -1000;
    static constexpr int aboveLayer = 3;  // "keep above" windows
    static constexpr int dockLayer = 20;  // panels and docks
    static constexpr int notificationLayer = 23;
    static constexpr int popupLayer = 101;  // menus, tool tips: windows the manager never sees
    static constexpr std::chrono::seconds buffersKeptFor{10};
    static constexpr std::chrono::milliseconds standbyAfter{200};

    X11ContentSource();
    ~X11ContentSource() override;
    X11ContentSource(const X11ContentSource&) = delete;
    X11ContentSource& operator=(const X11ContentSource&) = delete;

    // False when the X server could not be reached; every grab and fetch then fails.
    bool isConnected() const;

    qint64 processID() override;
    QList<ShareableDisplay> displays() override;
    std::uint32_t mainDisplayID() override;
    std::optional<QList<WindowInfo>> windowList() override;
    Expected<ShareableContent, CaptureError> fetchContent() override;
    Expected<QList<QImage>, CaptureError> grab(const QList<GrabArea>& areas,
                                              const QList<qint64>& excludedApplications) override;
    void setOnDisplaysChange(std::function<void()> handler) override;

private:
    // Main thread: QScreen and DisplayIdentity are not to be touched elsewhere.
    void rebuildDisplays();
    // Main thread: starts the wait after which the grab buffers go.
    void keepBuffersAWhile();

    const qint64 pid;
    std::shared_ptr<X11Connection> connection;
    std::shared_ptr<DisplayMap> displayMap;
    std::unique_ptr<EwmhWindowList> windows;
    std::shared_ptr<ShmGrabber> grabber;  // shared with the standby's preparation on the pool
    std::shared_ptr<OwnWindowWithdrawal> withdrawal;  // shared with main-thread work a grab hands off
    std::mutex handlerMutex;
    std::function<void()> onDisplaysChange;
    std::unique_ptr<QObject> screenWatcher;  // follows QScreen changes on the main thread; goes first
    QTimer* bufferRelease = nullptr;         // screenWatcher's child
    QTimer* standbyPreparation = nullptr;    // screenWatcher's child
};

}  // namespace quillet
