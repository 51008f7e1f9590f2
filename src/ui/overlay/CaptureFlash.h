// The brief white flash over exactly the area a capture took: a window that lets every click
// through and fades from 0.85 to nothing in 0.15 s. Without a compositing manager a window
// cannot be translucent, so a white frame around the area shows for the same time
// instead.
//
//   CaptureFlash flash(styling.overlayFlags(), [&] { return compositor.compositingManagerRunning(); });
//   flash.show(QRectF(100, 100, 640, 480));   // returns at once; the window removes itself
//
// Main thread only.
#pragma once

#include "core/CapturePipeline.h"

#include <QPointer>
#include <QWidget>

#include <chrono>
#include <functional>

namespace quillet {

class CaptureFlash : public CaptureFlashing {
public:
    static constexpr double startOpacity = 0.85;
    static constexpr std::chrono::milliseconds duration{150};
    static constexpr int frameWidth = 6;  // of the white frame drawn without a compositor

    // `overlayFlags`: the platform's flags for overlay windows. `canBeTranslucent` is asked at
    // every flash: a compositing manager may start or stop.
    CaptureFlash(Qt::WindowFlags overlayFlags, std::function<bool()> canBeTranslucent);

    // `over` in the platform's global screen space; an empty area shows nothing.
    void show(QRectF over) override;

    // The flash windows still on screen.
    QList<QWidget*> windows() const;

private:
    Qt::WindowFlags overlayFlags;
    std::function<bool()> canBeTranslucent;
    QList<QPointer<QWidget>> shown;
};

}  // namespace quillet
