// The part of a display that windows may cover without hiding under a task bar or a dock: the
// "visible frame" that previews and other floating panels are placed in.
//
//   QRect frame = WorkArea::visibleFrame(screen);   // logical pixels, global coordinates
//
// Qt 6.4 ignores the desktop's work area as soon as there is more than one display, so this
// also intersects with the window manager's _NET_WORKAREA. Main thread only.
#pragma once

#include <QRect>

class QScreen;

namespace quillet::WorkArea {

// The screen's available geometry within the desktop's work area; the whole available geometry
// when the window manager publishes none or it does not meet this screen.
QRect visibleFrame(const QScreen* screen);

}  // namespace quillet::WorkArea
