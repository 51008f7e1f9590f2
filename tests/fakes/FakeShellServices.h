// Fakes for the tray menu and the permissions guide: permissions the test grants and takes
// away, a panel of no known ink, and a removable-volume probe that counts its calls,
// answers what the test says and can be held back until the test lets it finish. The probe
// is called on a background thread.
#pragma once

#include "history/HistoryFolderAccess.h"
#include "platform/PanelThemeQuerying.h"
#include "support/Gate.h"
#include "ui/tray/PermissionsChecking.h"

#include <QStringList>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

namespace quillet::fakes {

class FakePermissionsState : public PermissionsChecking {
public:
    std::map<Permission, bool> granted = {
        {Permission::screenRecording, true}, {Permission::inputMonitoring, true}, {Permission::removableVolumes, true}};
    bool isGranted(Permission permission) const override { return granted.at(permission); }
};

class FakePanelTheme : public PanelThemeQuerying {
public:
    std::optional<QColor> trayForeground() override { return std::nullopt; }
};

class FakeVolumeProbe {
public:
    std::atomic<VolumeAccess> answer{VolumeAccess::notExternal};
    std::atomic<int> calls{0};

    // Every probe from now on waits until the returned gate opens.
    std::shared_ptr<test::Gate> holdBack() {
        std::lock_guard lock(mutex);
        gate = std::make_shared<test::Gate>();
        return gate;
    }
    QStringList folders() const {
        std::lock_guard lock(mutex);
        return asked;
    }

    VolumeAccess operator()(const QString& folder) {
        std::shared_ptr<test::Gate> held;
        {
            std::lock_guard lock(mutex);
            asked << folder;
            held = gate;
        }
        ++calls;
        if (held) held->wait();
        return answer.load();
    }

private:
    mutable std::mutex mutex;
    std::shared_ptr<test::Gate> gate;
    QStringList asked;
};

}  // namespace quillet::fakes
