// What the screen capturer needs from the platform: the displays, the raw on-screen window
// list, a snapshot of the shareable content (displays, windows and the processes that own
// them) and grabs of areas of the desktop. The rules — which windows may be picked, which
// display a point means, when to fetch again, what to leave out of a grab — live in
// ScreenCapturer; a source only reports and grabs.
//
// Every operation may be called from any thread; a source serialises what it must itself.
#pragma once

#include "core/CapturePipeline.h"
#include "core/Expected.h"

#include <QImage>
#include <QList>
#include <QRectF>
#include <QSize>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace quillet {

// One active display: its identifier, its bounds in global display space (points) and how
// many pixels make one point.
struct ShareableDisplay {
    std::uint32_t id = 0;
    QRectF bounds;
    double scale = 1.0;
    friend bool operator==(const ShareableDisplay&, const ShareableDisplay&) = default;
};

// One window of a snapshot: its number, owner and frame in global display space.
struct ShareableWindow {
    std::uint32_t id = 0;
    std::optional<qint64> processID;
    QRectF frame;
    friend bool operator==(const ShareableWindow&, const ShareableWindow&) = default;
};

// What can be captured at one moment: the displays, the windows on screen (desktop elements
// left out) and the processes owning windows on screen.
struct ShareableContent {
    QList<ShareableDisplay> displays;
    QList<ShareableWindow> windows;
    QList<qint64> applications;
};

// One raw entry of the on-screen window list. A field the platform could not read is absent;
// `layer` 0 is the layer of ordinary application windows.
struct WindowInfo {
    std::uint32_t id = 0;
    std::optional<qint64> processID;
    std::optional<QRectF> frame;  // global display space, decorations included
    std::optional<int> layer;
    std::optional<double> alpha;  // 0…1
    std::optional<QString> title;
};

// An area of the desktop in global display space and the size in pixels its image must have.
struct GrabArea {
    QRectF area;
    QSize pixelSize;
    friend bool operator==(const GrabArea&, const GrabArea&) = default;
};

class ContentSourcing {
public:
    virtual ~ContentSourcing() = default;

    // This process.
    virtual qint64 processID() = 0;
    // The active displays now, in the platform's order.
    virtual QList<ShareableDisplay> displays() = 0;
    virtual std::uint32_t mainDisplayID() = 0;
    // Every window on screen, front-most first, desktop elements included; absent when the
    // list cannot be read.
    virtual std::optional<QList<WindowInfo>> windowList() = 0;
    virtual Expected<ShareableContent, CaptureError> fetchContent() = 0;
    // One image per area, taken in one go, with every window of `excludedApplications` kept
    // out of the pixels.
    virtual Expected<QList<QImage>, CaptureError> grab(const QList<GrabArea>& areas,
                                                      const QList<qint64>& excludedApplications) = 0;
    // Called (on any thread) after displays were added, removed or moved; empty to stop.
    virtual void setOnDisplaysChange(std::function<void()> handler) = 0;
};

}  // namespace quillet
