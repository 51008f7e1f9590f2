// The colour the desktop's panel wants tray icons drawn in, so that a monochrome icon stays
// readable on a dark panel and on a light one. Tray hosts that publish it (the freedesktop
// system tray's _NET_SYSTEM_TRAY_COLORS) are asked; others give no answer and the icon keeps
// a neutral grey that reads on both.
//
//   QColor ink = panelTheme.trayForeground().value_or(neutralGrey);
//
// Main thread only; asked anew each time the icon is drawn, since the panel can change theme.
#pragma once

#include <QColor>

#include <optional>

namespace quillet {

class PanelThemeQuerying {
public:
    virtual ~PanelThemeQuerying() = default;
    virtual std::optional<QColor> trayForeground() = 0;
};

}  // namespace quillet
