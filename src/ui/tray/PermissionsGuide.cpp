#include "ui/tray/PermissionsGuide.h"

#include "core/Async.h"
#include "settings/AppSettings.h"
#include "ui/tray/PermissionsWindow.h"
#include "ui/widgets/InvokeCallback.h"

#include <QGuiApplication>
#include <QScreen>

namespace quillet {

PermissionsGuide::PermissionsGuide(Checks checks, QObject* parent)
    : QObject(parent), historyFolder([] { return AppSettings::defaultHistoryFolder(); }), checks(std::move(checks)) {
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive) attentionReceived();
    });
}

PermissionsGuide::~PermissionsGuide() { delete guideWindow; }

bool PermissionsGuide::isGranted(Permission permission) const {
    switch (permission) {
    case Permission::screenRecording: return checks.screenRecordingGranted();
    case Permission::inputMonitoring: return checks.inputMonitoringGranted();
    case Permission::removableVolumes: return volumes != VolumeAccess::denied;
    }
    return false;
}

void PermissionsGuide::showWindow() {
    if (!guideWindow) {
        guideWindow = new PermissionsWindow;
        for (const Permission permission : allPermissions) {
            guideWindow->row(permission)->onGrant = [this, permission] { grant(permission); };
        }
    }
    recheckRows();
    guideWindow->adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = guideWindow->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        guideWindow->move(frame.topLeft());
    }
    guideWindow->show();
    guideWindow->raise();
    guideWindow->activateWindow();
}

void PermissionsGuide::recheckRows() {
    if (!guideWindow) return;
    guideWindow->row(Permission::screenRecording)->setGranted(isGranted(Permission::screenRecording));
    guideWindow->row(Permission::inputMonitoring)->setGranted(isGranted(Permission::inputMonitoring));
    // The disk row matters only while the history lives on a mounted external volume.
    PermissionRow* disk = guideWindow->row(Permission::removableVolumes);
    disk->setVisible(volumes == VolumeAccess::granted || volumes == VolumeAccess::denied);
    disk->setGranted(volumes != VolumeAccess::denied);
    guideWindow->adjustSize();
}

void PermissionsGuide::grant(Permission permission) {
    // There is no system pane to open: the row says what the user can do, and the state is
    // looked at again, since the user may have just fixed it.
    if (guideWindow) guideWindow->row(permission)->showHint();
    if (permission == Permission::removableVolumes) {
        refreshRemovableVolumes(false);
    } else {
        recheckRows();
        invokeCallback(onChange);
    }
}

void PermissionsGuide::refreshRemovableVolumes(bool showWindowIfDenied) {
    if (probing) {
        pendingProbe = pendingProbe.value_or(false) || showWindowIfDenied;
        return;
    }
    probing = true;
    lastProbe = checks.now();
    const QString folder = historyFolder();
    runInBackground([access = checks.removableVolumeAccess, folder] { return access(folder); })
        .then(this, [this, showWindowIfDenied](VolumeAccess result) {
            probing = false;
            const VolumeAccess previous = volumes;
            volumes = result;
            recheckRows();
            invokeCallback(onChange);
            // Once when access turns to denied, not again while it stays so.
            if (showWindowIfDenied && result == VolumeAccess::denied && previous != VolumeAccess::denied) showWindow();
            if (pendingProbe) {
                const bool show = *pendingProbe;
                pendingProbe.reset();
                refreshRemovableVolumes(show);
            }
        });
}

void PermissionsGuide::attentionReceived() {
    recheckRows();
    probeIfDue();
    invokeCallback(onChange);
}

void PermissionsGuide::probeIfDue() {
    if (checks.overlayShown()) return;
    if (lastProbe && checks.now() - *lastProbe < probeInterval) return;
    refreshRemovableVolumes(false);
}

}  // namespace quillet
