#include "platform/x11/ClipboardOwner.h"

#include "platform/x11/X11Atoms.h"
#include "platform/x11/XcbReply.h"

namespace quillet::ClipboardOwner {

bool heldByThisClient() {
    xcb_connection_t* connection = X11Atoms::connection();
    if (!connection) return true;
    const xcb_atom_t clipboard = X11Atoms::atom("CLIPBOARD");
    if (clipboard == XCB_ATOM_NONE) return false;
    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, clipboard), nullptr));
    if (!owner || owner->owner == XCB_NONE) return false;
    // Qt owns selections through a window of its own connection: its id carries our client's
    // resource id base.
    const xcb_setup_t* setup = xcb_get_setup(connection);
    return (owner->owner & ~setup->resource_id_mask) == setup->resource_id_base;
}

}  // namespace quillet::ClipboardOwner
