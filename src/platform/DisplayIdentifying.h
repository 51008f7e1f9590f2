// Names each display with a stable 32-bit number for as long as the display server runs, so
// that a capture, a preview and a flash agree on which display they mean, and finds the screen
// again from that number.
//
//   std::uint32_t id = displays.displayID(screen);
//   QScreen* again = displays.screenWithID(id);   // nullptr once that display is gone
//
// Main thread only.
#pragma once

#include <cstdint>

class QScreen;

namespace quillet {

class DisplayIdentifying {
public:
    virtual ~DisplayIdentifying() = default;
    virtual std::uint32_t displayID(const QScreen* screen) = 0;
    virtual QScreen* screenWithID(std::uint32_t id) = 0;
};

}  // namespace quillet
