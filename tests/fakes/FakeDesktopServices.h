// The desktop as unit tests see it: displays named by a hash of the screen's name, Qt's work
// area, no compositor unless the test says so, a file manager that remembers what it showed,
// permissions the test grants, and a removable-volume probe the test answers and can hold back.
#pragma once

#include "history/HistoryFolderAccess.h"
#include "platform/CompositorWatching.h"
#include "platform/DisplayIdentifying.h"
#include "platform/FileRevealing.h"
#include "platform/PanelThemeQuerying.h"
#include "platform/WindowStyling.h"
#include "platform/WorkAreaQuerying.h"
#include "support/TestSupport.h"
#include "ui/tray/PermissionsChecking.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStringList>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

namespace quillet::fakes {

class FakeDisplays : public DisplayIdentifying, public WorkAreaQuerying {
public:
    std::uint32_t displayID(const QScreen* screen) override {
        return screen ? static_cast<std::uint32_t>(qHash(screen->name())) | 0x80000000u : 0;
    }
    QScreen* screenWithID(std::uint32_t id) override {
        for (QScreen* screen : QGuiApplication::screens()) {
            if (displayID(screen) == id) return screen;
        }
        return nullptr;
    }
    QRect visibleFrame(const QScreen* screen) override { return screen ? screen->availableGeometry() : QRect(); }
};

class FakeWindowStyling : public WindowStyling {
public:
    bool preparePanel(QWindow*) override { return false; }
    Qt::WindowFlags overlayFlags() const override { return Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint; }
    bool fillWithColor(QWindow*, const QColor&) override { return false; }
};

class FakeCompositor : public CompositorWatching {
public:
    bool compositingManagerRunning() const override { return running; }
    bool running = false;
};

class FakeFileManager : public FileRevealing {
public:
    void reveal(const QString& path) override { revealed << path; }
    QStringList revealed;
};

// Everything a preview stack needs of the desktop, in one place.
struct FakePreviewDesktop {
    FakeDisplays displays;
    FakeWindowStyling styling;
    FakeCompositor compositor;
    FakeFileManager fileManager;
};

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
