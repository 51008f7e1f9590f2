// Follows whether a compositing manager runs on our X screen: someone owns the selection
// _NET_WM_CM_S<screen>. The X server tells us through XFixes whenever that owner changes, on a
// connection of our own, so the answer is always current without asking the server each time.
//
//   X11CompositorWatcher watcher;                 // the screen of $DISPLAY
//   watcher.compositingManagerRunning();          // no round trip
//   connect(&watcher, &CompositorWatching::compositingChanged, ...);
//
// Main thread only. Without an X server (or XFixes) it answers false and never signals.
#pragma once

#include "platform/CompositorWatching.h"

#include <QByteArray>

#include <memory>

class QSocketNotifier;
struct xcb_connection_t;

namespace quillet {

class X11CompositorWatcher : public CompositorWatching {
    Q_OBJECT
public:
    // `displayName` as in $DISPLAY; empty means $DISPLAY itself.
    explicit X11CompositorWatcher(const QByteArray& displayName = {}, QObject* parent = nullptr);
    ~X11CompositorWatcher() override;

    bool compositingManagerRunning() const override { return running; }

private:
    void readEvents();
    bool ownerPresent();

    xcb_connection_t* connection = nullptr;
    std::uint32_t selection = 0;
    std::unique_ptr<QSocketNotifier> notifier;
    std::uint8_t firstEvent = 0;
    bool running = false;
};

}  // namespace quillet
