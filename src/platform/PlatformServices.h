// Everything the application needs from the desktop it runs on, in one bundle that a back-end
// fills once at start (see PlatformLoader). The shell and its windows reach the desktop only
// through these interfaces and never learn which back-end they got.
//
//   std::shared_ptr<PlatformServices> platform = PlatformLoader::load(choice);
//   ScreenCapturer capturer(platform->contentSource);
//   if (!platform->capabilities().canListenToKeys) ... explain the missing permission ...
//
// Main thread only; the services inside say where else they may be used.
#pragma once

#include "capture/ContentSourcing.h"
#include "clipboard/PasteboardWriting.h"
#include "core/CapturePipeline.h"
#include "hotkeys/EventTapping.h"
#include "platform/CompositorWatching.h"
#include "platform/DisplayIdentifying.h"
#include "platform/FileRevealing.h"
#include "platform/PanelThemeQuerying.h"
#include "platform/WindowStyling.h"
#include "platform/WorkAreaQuerying.h"
#include "settings/LoginItemRegistering.h"

#include <QString>

#include <memory>

namespace quillet {

// What a back-end can do in this session.
struct PlatformCapabilities {
    bool canListWindows = false;    // a click in the overlay picks a window
    bool canFreezeFrame = false;    // the overlay shows the displays frozen as they were
    bool canListenToKeys = false;   // the double press works
    bool compositorPresent = false; // windows can be translucent
};

// One object may serve several interfaces (the X11 desktop answers for the displays and the
// work area too), so every service is held shared.
struct PlatformServices {
    QString name;  // "x11", for the log
    std::shared_ptr<ContentSourcing> contentSource;
    std::shared_ptr<EventTapping> eventTap;
    std::shared_ptr<PasteboardWriting> pasteboard;
    std::shared_ptr<DesktopQuerying> desktop;
    std::shared_ptr<WindowStyling> windowStyling;
    std::shared_ptr<WorkAreaQuerying> workArea;
    std::shared_ptr<DisplayIdentifying> displays;
    std::shared_ptr<CompositorWatching> compositor;
    std::shared_ptr<LoginItemRegistering> loginItem;
    std::shared_ptr<SoundPlaying> sounds;
    std::shared_ptr<FileRevealing> fileManager;
    std::shared_ptr<PanelThemeQuerying> panelTheme;  // may be null: the tray icon stays grey
    bool listsWindows = false;
    bool freezesFrames = false;

    // Listening and compositing are asked anew: either may change while we run.
    PlatformCapabilities capabilities() const {
        return {listsWindows, freezesFrames, eventTap && eventTap->preflightListenAccess(),
                compositor && compositor->compositingManagerRunning()};
    }
};

}  // namespace quillet
