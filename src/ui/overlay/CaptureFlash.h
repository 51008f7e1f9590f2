// The brief white flash over exactly the area a capture took: a window that lets every click
// through and fades from 0.85 to nothing in 0.15 s. Without a compositing manager a window
// cannot be translucent, so a white frame around the area shows for the same time
// instead. Where the display server can fill the window by itself, nothing of ours holds its
// pixels: a flash over a 4K display would otherwise cost a frame of memory for 0.15 s.
//
//   CaptureFlash flash(styling, [&] { return compositor.compositingManagerRunning(); });
//   flash.show(QRectF(100, 100, 640, 480));   // returns at once; the window shows on the event
//                                             // loop's next turn and removes itself
//
// Main thread only.
#pragma once

#include "core/CapturePipeline.h"
#include "platform/WindowStyling.h"

#include <QPointer>
#include <QWindow>

#include <chrono>
#include <functional>

namespace quillet {

class CaptureFlash : public CaptureFlashing {
public:
    static constexpr double startOpacity = 0.85;
    static constexpr std::chrono::milliseconds duration{150};
    static constexpr int frameWidth = 6;  // of the white frame drawn without a compositor

    // `canBeTranslucent` is asked at every flash: a compositing manager may start or stop.
    CaptureFlash(WindowStyling& styling, std::function<bool()> canBeTranslucent);

    // `over` in the platform's global screen space; an empty area shows nothing.
    void show(QRectF over) override;

    // The flash windows still on screen.
    QList<QWindow*> windows() const;

private:
    void showWindow(QRect area, bool translucent);

    WindowStyling& styling;
    std::function<bool()> canBeTranslucent;
    QList<QPointer<QWindow>> shown;
    QObject scheduler;  // the windows still to be shown go with it
};

}  // namespace quillet
