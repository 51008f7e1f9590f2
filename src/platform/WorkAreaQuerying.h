// The part of a display that floating panels may cover without hiding under a task bar or a
// dock: the "visible frame" previews are placed in.
//
//   QRect frame = workArea.visibleFrame(screen);   // logical pixels, global coordinates
//
// Main thread only.
#pragma once

#include <QRect>

class QScreen;

namespace quillet {

class WorkAreaQuerying {
public:
    virtual ~WorkAreaQuerying() = default;
    virtual QRect visibleFrame(const QScreen* screen) = 0;
};

}  // namespace quillet
