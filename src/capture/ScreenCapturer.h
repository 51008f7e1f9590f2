// Turns a request for the display under a point, a rectangle of one display or one window into
// a CapturedImage, over a platform content source. A capture must start fast after the
// trigger, so the shareable content (displays, windows, applications) is cached and fetched
// ahead of time (warmUp at launch, refreshContent while the overlay is up); this application's
// own windows never appear in a capture.
//
//   ScreenCapturer capturer(std::make_shared<X11ContentSource>());
//   capturer.captureFullScreen(QCursor::pos()).then(this, [](CaptureResult image) { ... });
//
// The public operations are called on the main thread; captures, warmUp and refreshContent run
// on the thread pool and answer through their futures. A region or window capture that follows
// freeze() is cut from the frozen frame, which it uses up.
#pragma once

#include "capture/ContentSourcing.h"
#include "capture/ScreenFreezing.h"
#include "core/CapturePipeline.h"

#include <QRectF>
#include <QSizeF>

#include <memory>
#include <optional>

namespace quillet {

// The pixel size of one capture and, for a region, the rectangle of the display it covers
// (display-local points).
struct CaptureConfiguration {
    int width = 1;
    int height = 1;
    std::optional<QRectF> sourceRect;
    friend bool operator==(const CaptureConfiguration&, const CaptureConfiguration&) = default;
};

class ScreenCapturer : public ScreenCapturing, public ScreenFreezing {
public:
    explicit ScreenCapturer(std::shared_ptr<ContentSourcing> source);
    ~ScreenCapturer() override;
    ScreenCapturer(const ScreenCapturer&) = delete;
    ScreenCapturer& operator=(const ScreenCapturer&) = delete;

    QFuture<CaptureResult> captureFullScreen(QPointF point) override;
    QFuture<CaptureResult> captureRegion(QRectF rect, std::uint32_t screen) override;
    QFuture<CaptureResult> captureWindow(std::uint32_t windowID) override;
    QFuture<void> warmUp() override;
    QFuture<void> refreshContent() override;
    QList<CapturableWindow> onScreenWindows(qint64 excludingProcess) override;

    QList<FrozenDisplay> freeze() override;
    void thaw() override;

    // Points × scale, rounded half away from zero, at least one pixel each way:
    // 300.4 × 200.5 points at scale 2 are 601 × 401 pixels.
    static CaptureConfiguration makeConfiguration(QSizeF size, double scale);

    struct State;

private:
    std::shared_ptr<State> state;  // shared with the captures still running
};

}  // namespace quillet
