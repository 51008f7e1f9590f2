#include "platform/x11/X11WindowStyling.h"

#include "platform/x11/PanelWindow.h"

namespace quillet {

bool X11WindowStyling::preparePanel(QWindow* window) { return PanelWindow::prepare(window); }

Qt::WindowFlags X11WindowStyling::overlayFlags() const {
    return Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint;
}

}  // namespace quillet
