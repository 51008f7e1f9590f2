// The region overlay shows every display as it was when the capture was asked for, and the
// region or window the user then picks is cut from that same frozen frame: X11 cannot leave
// an application's own windows out of a grab, and without a compositing manager the overlay
// cannot be see-through, so the overlay paints the frozen frame itself.
//
//   QList<FrozenDisplay> frames = freezer.freeze();   // before any overlay window maps
//   ... the user selects; captureRegion() / captureWindow() use the frozen frame ...
//   freezer.thaw();                                    // cancelled: let the frame go
//
// Main thread only.
#pragma once

#include "capture/ContentSourcing.h"

#include <QImage>
#include <QList>

namespace quillet {

struct FrozenDisplay {
    ShareableDisplay display;
    QImage image;  // the display's pixels, display.bounds.size() × display.scale
};

class ScreenFreezing {
public:
    virtual ~ScreenFreezing() = default;
    // Grabs every display now, this application's windows kept out, and keeps the frame for
    // the next region or window capture. Empty when the grab failed (captures are then live).
    virtual QList<FrozenDisplay> freeze() = 0;
    // Drops the frozen frame.
    virtual void thaw() = 0;
};

}  // namespace quillet
