// Window traits on an X11 desktop: panels become notification-like utility windows on every
// desktop (see PanelWindow), overlays bypass the window manager so nothing decorates, moves or
// stacks them; a plain window gets the colour as its X background, which the server paints.
//
// Main thread only.
#pragma once

#include "platform/WindowStyling.h"

namespace quillet {

class X11WindowStyling : public WindowStyling {
public:
    bool preparePanel(QWindow* window) override;
    Qt::WindowFlags overlayFlags() const override;
    bool fillWithColor(QWindow* window, const QColor& color) override;
};

}  // namespace quillet
