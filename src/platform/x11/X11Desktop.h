// What the capture coordinator and the windows ask of an X11 desktop directly: X11 has no
// screen-recording gate, the pointer comes from QCursor, the displays from QScreen with the
// identifiers of DisplayIdentity (the primary display first), and the work area from WorkArea.
//
// Main thread only.
#pragma once

#include "core/CapturePipeline.h"
#include "platform/DisplayIdentifying.h"
#include "platform/WorkAreaQuerying.h"

namespace quillet {

class X11Desktop : public DesktopQuerying, public DisplayIdentifying, public WorkAreaQuerying {
public:
    bool screenRecordingGranted() override { return true; }
    QPointF cursorPosition() override;
    QList<ScreenInfo> screens() override;
    std::uint32_t mainDisplayID() override;
    qint64 processID() override;

    std::uint32_t displayID(const QScreen* screen) override;
    QScreen* screenWithID(std::uint32_t id) override;
    QRect visibleFrame(const QScreen* screen) override;
};

}  // namespace quillet
