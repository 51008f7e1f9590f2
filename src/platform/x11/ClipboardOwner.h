// Whether this client still owns the CLIPBOARD selection, asked of the X server itself: another
// program's copy reaches Qt as an event the event loop may not have delivered yet.
//
// Main thread only. Without an X connection it answers true (only Qt's signal can tell).
#pragma once

namespace quillet::ClipboardOwner {

bool heldByThisClient();

}  // namespace quillet::ClipboardOwner
