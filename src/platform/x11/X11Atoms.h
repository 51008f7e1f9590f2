// The X connection Qt talks over, and atoms by name, interned once per name: a round trip to
// the server per lookup would add up on paths that run for every capture. Used only inside
// this module. Main thread only.
//
//   if (xcb_connection_t* connection = X11Atoms::connection())
//       xcb_atom_t type = X11Atoms::atom("_NET_WM_WINDOW_TYPE");
#pragma once

#include <xcb/xcb.h>

namespace quillet::X11Atoms {

// Qt's own connection; nullptr on other platforms (the offscreen one of unit tests).
xcb_connection_t* connection();
// XCB_ATOM_NONE without a connection.
xcb_atom_t atom(const char* name);

}  // namespace quillet::X11Atoms
