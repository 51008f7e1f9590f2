// The real X11 desktop services that end-to-end tests and benchmarks hand to the windows they
// build, as the application does.
#pragma once

#include "platform/desktop/FileManagerReveal.h"
#include "platform/x11/X11CompositorWatcher.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11WindowStyling.h"
#include "ui/previews/PreviewStack.h"

namespace quillet::test {

struct X11Parts {
    X11Desktop desktop;
    X11WindowStyling styling;
    X11CompositorWatcher compositor;
    FileManagerReveal fileManager;

    PreviewStack::Desktop previewDesktop() { return {desktop, desktop, styling, compositor, fileManager}; }
};

}  // namespace quillet::test
