// Where each display lies in the root window's pixels, next to where Qt puts it in global
// display space: RandR monitors give the native rectangles (a display scaled by Qt keeps its
// native top-left corner), QScreen the logical ones. Grabs map their areas through it to root
// pixels, and window frames map back.
//
//   DisplayMap map(connection);
//   map.rebuild();                                   // main thread, when screens change
//   QRect pixels = map.toNative(area);               // any thread
//
// rebuild() runs on the main thread only (it reads QScreen); everything else on any thread.
#pragma once

#include "capture/ContentSourcing.h"

#include <QList>
#include <QRect>

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>

namespace quillet {

class X11Connection;

class DisplayMap {
public:
    explicit DisplayMap(std::shared_ptr<const X11Connection> connection);

    // Reads the displays again from the server and from Qt.
    void rebuild();

    QList<ShareableDisplay> displays() const;
    std::uint32_t mainDisplayID() const;
    // The root window's current size in device pixels.
    QSize rootSize() const;

    // The root-window pixels of `area`; within a pixel of its size, the size is `pixelSize`
    // exactly so rounding never makes an image be rescaled.
    QRect toNative(const GrabArea& area) const;
    // A rectangle of the root window (device pixels) in global display space.
    QRectF toLogical(const QRect& native) const;

private:
    struct Placement {
        QRectF bounds;
        QRect native;
        double scale = 1.0;
    };
    // The display that holds the centre of `area`, else the first one `area` touches.
    std::optional<Placement> placement(const QRectF& area) const;

    std::shared_ptr<const X11Connection> connection;
    mutable std::mutex mutex;
    QList<ShareableDisplay> displayList;
    QList<QRect> nativeRects;  // the same displays in root-window pixels
    std::uint32_t mainID = 0;
    QSize root;
};

}  // namespace quillet
