// The windows on screen, front-most first, as the window manager lists them (EWMH
// _NET_CLIENT_LIST_STACKING, else _NET_CLIENT_LIST), with the override-redirect pop-ups above
// them; without a window manager, the root window's mapped children. Each comes with its
// process, title, frame (the manager's decoration included) in global display space, opacity
// and layer.
//
//   EwmhWindowList windows(connection, displayMap);
//   std::optional<QList<WindowInfo>> list = windows.list();   // any thread
#pragma once

#include "capture/ContentSourcing.h"

#include <xcb/xcb.h>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace quillet {

class DisplayMap;
class X11Connection;

class EwmhWindowList {
public:
    EwmhWindowList(std::shared_ptr<const X11Connection> connection, std::shared_ptr<const DisplayMap> displays);

    // Nothing when the server could not be asked.
    std::optional<QList<WindowInfo>> list() const;

private:
    std::optional<std::vector<xcb_window_t>> windowsProperty(xcb_atom_t property) const;
    // (window, is a pop-up) in order; windows no longer on screen are left out.
    QList<WindowInfo> describe(const std::vector<std::pair<xcb_window_t, bool>>& windows) const;
    int layer(bool popup, const std::vector<std::uint32_t>& types, const std::vector<std::uint32_t>& states) const;

    std::shared_ptr<const X11Connection> connection;
    std::shared_ptr<const DisplayMap> displays;
};

}  // namespace quillet
