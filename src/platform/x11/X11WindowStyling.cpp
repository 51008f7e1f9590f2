#include "platform/x11/X11WindowStyling.h"

#include "platform/x11/PanelWindow.h"
#include "platform/x11/X11Atoms.h"

#include <QColor>
#include <QWindow>

#include <xcb/xcb.h>

namespace quillet {

bool X11WindowStyling::preparePanel(QWindow* window) { return PanelWindow::prepare(window); }

Qt::WindowFlags X11WindowStyling::overlayFlags() const {
    return Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint;
}

bool X11WindowStyling::fillWithColor(QWindow* window, const QColor& color) {
    xcb_connection_t* x = X11Atoms::connection();
    if (!x || !window || !window->handle()) return false;
    // A pixel of a true-colour visual; a 32-bit one takes the alpha in its top byte.
    const QRgb rgb = color.rgba();
    const std::uint32_t pixel = window->format().hasAlpha() ? rgb : (rgb & 0xffffffu);
    const auto id = static_cast<xcb_window_t>(window->winId());
    xcb_change_window_attributes(x, id, XCB_CW_BACK_PIXEL, &pixel);
    xcb_clear_area(x, 0, id, 0, 0, 0, 0);  // a window already showing is filled now
    xcb_flush(x);
    return true;
}

}  // namespace quillet
