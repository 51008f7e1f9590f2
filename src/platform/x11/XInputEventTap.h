// The desktop's key and mouse presses for the hot key monitor: XInput 2 raw events
// (RawKeyPress, RawKeyRelease, RawButtonPress) selected on the root window over an X connection
// of the tap's own. Raw events reach every client that asks, so the tap grabs nothing and every
// application keeps receiving each keystroke unchanged. They are read on the main thread when
// the connection's socket becomes readable: no polling, no work while the desktop is idle.
//
//   XInputEventTap tap;                       // the display of $DISPLAY
//   HotKeyMonitor monitor(triggers, tap);
//   monitor.start();                          // inputMonitoringDenied without XInput 2
//
// A lost connection is reported as a disabled tap; enableTap() connects again (and keeps
// retrying while the server does not answer). Main thread only.
#pragma once

#include "hotkeys/EventTapping.h"
#include "platform/x11/RawInputTranslator.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <memory>

namespace quillet {

class XInputEventTap : public QObject, public EventTapping {
    Q_OBJECT
public:
    // An empty `displayName` means the display of $DISPLAY, the one the application runs on.
    explicit XInputEventTap(QByteArray displayName = {}, QObject* parent = nullptr);
    ~XInputEventTap() override;

    bool preflightListenAccess() override;
    bool createTap(std::uint64_t mask, Callback callback) override;
    void enableTap() override;
    void invalidateTap() override;

    // The socket of the tap's X connection, -1 while it has none. Tests cut it to see a lost
    // connection come back.
    int socketDescriptor() const;

private:
    struct Connection;

    std::unique_ptr<Connection> openConnection(bool logFailure) const;
    bool connectTap();
    void closeConnection();
    void readEvents();
    void dispatch(const void* event);
    void loadKeyboardMapping();
    void deliver(const TapEvent& event, bool always = false);
    void connectionLost();
    void retry();

    QByteArray displayName;
    Callback callback;
    std::uint64_t mask = 0;
    std::unique_ptr<Connection> connection;
    // Changes whenever the connection is replaced or dropped, so that a read loop can tell that
    // the callback it just called pulled the connection away under it.
    std::uint64_t generation = 0;
    RawInputTranslator translator;
    QTimer retryTimer;
    std::chrono::milliseconds retryDelay{0};
};

}  // namespace quillet
