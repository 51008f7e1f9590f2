// Knows whether Quillet may capture the screen, hear the double press and reach the history
// folder's external disk, and shows the window "Разрешения Quillet" that lists the three. The
// disk is probed in the background: at launch, when the history folder changes, and when the
// user turns to Quillet (the application becomes active or its tray menu opens) — then at
// most every 30 seconds and never while the region overlay is up. Probes never overlap;
// requests made meanwhile merge into one that runs afterwards.
//
//   PermissionsGuide guide({.screenRecordingGranted = ..., .inputMonitoringGranted = ...,
//                           .removableVolumeAccess = ..., .overlayShown = ...});
//   guide.historyFolder = [&] { return settings.current().historyFolder; };
//   guide.onChange = [&] { startHotKeys(); menu.refresh(); };
//   guide.refreshRemovableVolumes(true);
//
// Main thread only, except `removableVolumeAccess`, which runs on a background thread.
#pragma once

#include "core/CapturePipeline.h"
#include "history/HistoryFolderAccess.h"
#include "ui/tray/PermissionsChecking.h"
#include "ui/tray/PermissionsWindow.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <optional>

namespace quillet {

class PermissionsGuide : public QObject, public PermissionsShowing, public PermissionsChecking {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds probeInterval{30};

    struct Checks {
        std::function<bool()> screenRecordingGranted;
        std::function<bool()> inputMonitoringGranted;
        // May touch the external disk: called on a background thread, one call at a time.
        std::function<VolumeAccess(const QString& folder)> removableVolumeAccess;
        // While the region overlay is up a probe is never started by attention.
        std::function<bool()> overlayShown = [] { return false; };
        std::function<Clock::time_point()> now = [] { return Clock::now(); };
    };

    explicit PermissionsGuide(Checks checks, QObject* parent = nullptr);
    ~PermissionsGuide() override;

    // Told after each probe and each time the user turns to Quillet: the state may have changed.
    std::function<void()> onChange;
    // The current history folder; the default one until the owner says otherwise.
    std::function<QString()> historyFolder;

    // Builds the window when needed, re-checks its rows, centres it and brings it forward.
    void showWindow() override;
    // Probes the removable-volume permission for the current history folder. With
    // `showWindowIfDenied` the window opens when the answer turns to denied.
    void refreshRemovableVolumes(bool showWindowIfDenied);
    // The user turned to Quillet: re-check the rows, probe if due, tell `onChange`.
    void attentionReceived();

    bool isGranted(Permission permission) const override;
    VolumeAccess removableVolumes() const { return volumes; }
    bool isProbing() const { return probing; }
    PermissionsWindow* window() const { return guideWindow; }

private:
    void probeIfDue();
    void recheckRows();
    void grant(Permission permission);

    Checks checks;
    QPointer<PermissionsWindow> guideWindow;
    VolumeAccess volumes = VolumeAccess::notExternal;
    bool probing = false;
    std::optional<bool> pendingProbe;  // whether the waiting request asks for the window
    std::optional<Clock::time_point> lastProbe;
};

}  // namespace quillet
