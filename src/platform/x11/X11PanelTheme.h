// The tray host's ink colour on X11: the freedesktop system tray owner (the window holding
// the _NET_SYSTEM_TRAY_S<n> selection) may publish _NET_SYSTEM_TRAY_COLORS, whose first three
// 16-bit values are the foreground its panel draws with. Hosts that do not publish it give no
// answer.
//
//   X11PanelTheme theme;
//   std::optional<QColor> ink = theme.trayForeground();
//
// Main thread only (it uses Qt's X connection).
#pragma once

#include "platform/PanelThemeQuerying.h"

namespace quillet {

class X11PanelTheme : public PanelThemeQuerying {
public:
    std::optional<QColor> trayForeground() override;
};

}  // namespace quillet
