#include "hotkeys/HotKeyMonitor.h"

#include <utility>

namespace quillet {

HotKeyMonitor::HotKeyMonitor(QSet<Trigger> triggers, EventTapping& eventTap, QObject* parent)
    : QObject(parent),
      detector(std::move(triggers), interval, [] { return std::chrono::steady_clock::now(); }),
      eventTap(eventTap) {}

HotKeyMonitor::~HotKeyMonitor() { stop(); }

Expected<void, PermissionError> HotKeyMonitor::start() {
    if (running) return {};
    if (!eventTap.preflightListenAccess()) return unexpected(PermissionError::inputMonitoringDenied);
    // The tap is stopped in our destructor at the latest, so it never calls a monitor that is gone.
    if (!eventTap.createTap(hotKeyEventMask, [this](const TapEvent& event) { handle(event); })) {
        return unexpected(PermissionError::inputMonitoringDenied);
    }
    running = true;
    return {};
}

void HotKeyMonitor::stop() {
    if (!running) return;
    running = false;
    eventTap.invalidateTap();
}

void HotKeyMonitor::handle(const TapEvent& event) {
    if (!running) return;
    switch (event.type) {
    case TapEventType::tapDisabledByTimeout:
    case TapEventType::tapDisabledByUserInput:
        // A half-finished double press simply continues or times out by the detector's rules.
        eventTap.enableTap();
        return;
    case TapEventType::keyDown:
        detector.handle(KeyEvent::otherKeyDown());
        return;
    case TapEventType::leftMouseDown:
    case TapEventType::rightMouseDown:
    case TapEventType::otherMouseDown:
        detector.handle(KeyEvent::mouseDown());
        return;
    case TapEventType::flagsChanged:
        if (const std::optional<Trigger> trigger = detector.handle(KeyEvent(event.keyCode, event.flags))) {
            // A copy, so that the callback may replace itself while it runs.
            const auto callback = onTrigger;
            callback(*trigger);
        }
        return;
    }
}

}  // namespace quillet
