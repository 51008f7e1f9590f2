// What the capture coordinator asks of an X11 desktop directly: X11 has no screen-recording
// gate, the pointer comes from QCursor, and the displays from QScreen with the identifiers of
// DisplayIdentity, the primary display first.
//
// Main thread only.
#pragma once

#include "core/CapturePipeline.h"

namespace quillet {

class X11Desktop : public DesktopQuerying {
public:
    bool screenRecordingGranted() override { return true; }
    QPointF cursorPosition() override;
    QList<ScreenInfo> screens() override;
    std::uint32_t mainDisplayID() override;
    qint64 processID() override;

    // True when a compositing manager runs (someone owns _NET_WM_CM_S<screen>), that is when a
    // window can be translucent.
    static bool compositingManagerRunning();
};

}  // namespace quillet
