// A display's identifier: a stable 32-bit number for one display for as long as the X server
// runs. It is the atom of the RandR monitor's name (what QScreen::name() reports), read once per
// name, so that a capture, a preview and a flash all agree on which display they mean.
//
//   std::uint32_t id = DisplayIdentity::displayID(screen);
//   QScreen* again = DisplayIdentity::screenWithID(id);
//
// Main thread only. Without an X connection (unit tests on the offscreen platform) the
// identifier is a hash of the name.
#pragma once

#include <cstdint>

class QScreen;

namespace quillet::DisplayIdentity {

std::uint32_t displayID(const QScreen* screen);
// The screen with that identifier, or nullptr when no display has it any more.
QScreen* screenWithID(std::uint32_t id);

}  // namespace quillet::DisplayIdentity
