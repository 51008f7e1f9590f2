// The desktop as unit tests see it: displays named by a hash of the screen's name, the work
// area equal to Qt's available geometry, no window traits, no compositor unless the test says
// so, and a file manager that only remembers what it was asked to show.
#pragma once

#include "platform/CompositorWatching.h"
#include "platform/DisplayIdentifying.h"
#include "platform/FileRevealing.h"
#include "platform/WindowStyling.h"
#include "platform/WorkAreaQuerying.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStringList>

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

}  // namespace quillet::fakes
