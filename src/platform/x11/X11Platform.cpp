#include "platform/x11/X11Platform.h"

#include "platform/desktop/FileManagerReveal.h"
#include "platform/desktop/QtPasteboard.h"
#include "platform/desktop/ShutterSound.h"
#include "platform/desktop/XdgAutostartEntry.h"
#include "platform/x11/ClipboardOwner.h"
#include "platform/x11/X11CompositorWatcher.h"
#include "platform/x11/X11ContentSource.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11PanelTheme.h"
#include "platform/x11/X11WindowStyling.h"
#include "platform/x11/XInputEventTap.h"

#include <QGuiApplication>

namespace quillet {

std::unique_ptr<PlatformServices> makeX11Platform() {
    auto platform = std::make_unique<PlatformServices>();
    platform->name = QStringLiteral("x11");
    platform->contentSource = std::make_shared<X11ContentSource>();
    platform->eventTap = std::make_shared<XInputEventTap>();
    platform->pasteboard = std::make_shared<QtPasteboard>(QGuiApplication::clipboard(), &ClipboardOwner::heldByThisClient);
    auto desktop = std::make_shared<X11Desktop>();
    platform->desktop = desktop;
    platform->displays = desktop;
    platform->workArea = desktop;
    platform->windowStyling = std::make_shared<X11WindowStyling>();
    platform->compositor = std::make_shared<X11CompositorWatcher>();
    platform->loginItem = std::make_shared<XdgAutostartEntry>();
    platform->sounds = std::make_shared<ShutterSound>();
    platform->fileManager = std::make_shared<FileManagerReveal>();
    platform->panelTheme = std::make_shared<X11PanelTheme>();
    // EWMH lists the windows, and every grab comes from the frame frozen before the overlay.
    platform->listsWindows = true;
    platform->freezesFrames = true;
    return platform;
}

}  // namespace quillet
