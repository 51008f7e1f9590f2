// What has been drawn onto the screen since a moment we choose, as the X server's DAMAGE
// extension tells it. One damage object on the root window sees drawing into every window that
// is not redirected (the server's own painting of uncovered windows included) and, under a
// compositing manager, the compositor's drawing onto its overlay window. It reports only that
// something was drawn, one event until the next look however much is drawn, so nothing piles up
// on the connection between captures.
//
//   RootDamage damage(connection);   // once, at start: two round trips
//   damage.forget();                 // from the server's answer on, only later drawing counts
//   ...
//   const QRegion drawn = damage.collect();  // drawn since the last look; never waits when
//                                            // nothing was
//
// Without the DAMAGE extension (or XFixes regions) it is unavailable and collects nothing.
// forget() and collect() may run on any thread, one at a time.
#pragma once

#include <QRegion>

#include <xcb/xcb.h>

#include <atomic>
#include <cstdint>
#include <memory>

namespace quillet {

class X11Connection;

class RootDamage {
public:
    explicit RootDamage(std::shared_ptr<const X11Connection> connection);
    ~RootDamage();
    RootDamage(const RootDamage&) = delete;
    RootDamage& operator=(const RootDamage&) = delete;

    bool isAvailable() const { return damage != XCB_NONE; }
    // Drops what was drawn so far and waits for the server's word that it did.
    void forget();
    // Where the screen was drawn on since the last forget() or collect(), in root coordinates.
    QRegion collect();

private:
    std::shared_ptr<const X11Connection> connection;
    std::uint32_t damage = XCB_NONE;
    std::uint32_t parts = XCB_NONE;  // an XFixes region the drawn area is moved into
    std::uint8_t notifyEvent = 0;
    std::atomic<bool> reportKept = false;  // a report forget() read that collect() must still see
};

}  // namespace quillet
