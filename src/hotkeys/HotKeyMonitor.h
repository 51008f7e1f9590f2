// Watches the desktop's key and mouse presses through a listen-only event tap, feeds them to the
// double-tap detector and reports each recognised double press through `onTrigger`. It decides
// nothing itself; the rules are the detector's.
//
//   HotKeyMonitor monitor({Trigger{ModifierKey::control, KeySide::any}}, tap);
//   monitor.onTrigger = [&](Trigger trigger) { coordinator.captureRegion(); };
//   if (!monitor.start()) showPermissionsGuide();
//
// Main thread only. The tap must outlive the monitor.
#pragma once

#include "core/Expected.h"
#include "core/Types.h"
#include "hotkeys/DoubleTapDetector.h"
#include "hotkeys/EventTapping.h"

#include <QObject>
#include <QSet>

#include <chrono>
#include <functional>
#include <utility>

namespace quillet {

class HotKeyMonitor : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds interval{350};

    HotKeyMonitor(QSet<Trigger> triggers, EventTapping& eventTap, QObject* parent = nullptr);
    ~HotKeyMonitor() override;

    // Called synchronously on the main thread for each recognised double press.
    std::function<void(Trigger)> onTrigger = [](Trigger) {};

    QSet<Trigger> triggers() const { return detector.triggers(); }
    // Re-arms the detector; a half-finished double press is discarded.
    void setTriggers(QSet<Trigger> triggers) { detector.setTriggers(std::move(triggers)); }

    bool isRunning() const { return running; }

    // Begins listening. Fails with inputMonitoringDenied when the desktop does not let this
    // process listen or the tap cannot be created. Harmless while already running.
    Expected<void, PermissionError> start();
    // Stops listening; start() may be called again.
    void stop();

private:
    void handle(const TapEvent& event);

    DoubleTapDetector detector;
    EventTapping& eventTap;
    bool running = false;
};

}  // namespace quillet
