// What the desktop must be told about our windows that are not ordinary windows: floating
// panels (previews) that never take the focus, stay above and keep out of the task bar, and
// overlays (the region selection, the flash) that the window manager must leave alone, and
// plain windows that the display server fills by itself.
//
//   panel->winId();                                  // native window exists, still unmapped
//   styling.preparePanel(panel->windowHandle());
//   overlay->setWindowFlags(styling.overlayFlags());
//   flash->create();
//   const bool filled = styling.fillWithColor(flash, Qt::white);   // else the caller draws
//
// Main thread only.
#pragma once

#include <Qt>

class QColor;
class QWindow;

namespace quillet {

class WindowStyling {
public:
    virtual ~WindowStyling() = default;
    // Sets the window type and states on a window that has not been mapped yet. False when the
    // desktop offers no way to (the window then behaves as Qt's flags alone make it).
    virtual bool preparePanel(QWindow* window) = 0;
    // The flags of a full-display overlay or flash window: frameless, above everything, not
    // managed or decorated by the window manager.
    virtual Qt::WindowFlags overlayFlags() const = 0;
    // Has the display server paint `color` wherever the created `window` shows, without any
    // drawing of ours: no frame of memory holds what a display-sized flash shows. False when the
    // desktop cannot; the caller then draws the window itself.
    virtual bool fillWithColor(QWindow* window, const QColor& color) = 0;
};

}  // namespace quillet
