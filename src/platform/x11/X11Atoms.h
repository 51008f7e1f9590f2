// The X connection Qt talks over, and atoms by name, interned once per name: a round trip to
// the server per lookup would add up on paths that run for every capture. The only place in
// this module that interns atoms. Used only inside this module.
//
//   if (xcb_connection_t* connection = X11Atoms::connection())
//       xcb_atom_t type = X11Atoms::atom("_NET_WM_WINDOW_TYPE");
//
//   // A connection of one's own (a grab thread's, a watcher's): a table asked for in one go.
//   const X11Atoms::Table atoms(own, {"_NET_CLIENT_LIST", "_NET_WM_PID"});
//   xcb_atom_t pid = atoms["_NET_WM_PID"];
//
// connection() and atom() are for the main thread only; a Table is read-only once made and may
// be read from any thread.
#pragma once

#include <xcb/xcb.h>

#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

namespace quillet::X11Atoms {

// Qt's own connection; nullptr on other platforms (the offscreen one of unit tests).
xcb_connection_t* connection();
// XCB_ATOM_NONE without a connection.
xcb_atom_t atom(const char* name);

// Atoms on a given connection, all asked for before any answer is read: one round trip for the
// whole table. An atom the server did not give is XCB_ATOM_NONE.
class Table {
public:
    Table() = default;
    // `names` must outlive the table (string literals).
    Table(xcb_connection_t* connection, std::initializer_list<const char*> names);

    // XCB_ATOM_NONE for a name the table was not made with.
    xcb_atom_t operator[](std::string_view name) const;

private:
    std::vector<std::pair<std::string_view, xcb_atom_t>> atoms;
};

}  // namespace quillet::X11Atoms
