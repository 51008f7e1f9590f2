// What the X desktop needs to know about a floating panel such as a capture preview: it is a
// notification-like utility window that never takes the focus, shows on every desktop, stays
// above normal windows and keeps out of the task bar and pager.
//
//   panel->winId();                      // the native window must exist, still unmapped
//   PanelWindow::prepare(panel->windowHandle());
//   panel->show();
//
// Main thread only. Without an X connection (the offscreen platform of unit tests) it does
// nothing and answers "no".
#pragma once

class QWindow;

namespace quillet::PanelWindow {

// Sets the window type, the desktop and the states on a window that has not been mapped yet.
// Returns false when there is no X connection or no native window.
bool prepare(QWindow* window);


}  // namespace quillet::PanelWindow
