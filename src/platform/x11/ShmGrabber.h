// Grabs of the root window's pixels through one MIT-SHM segment, made once big enough for the
// largest display, with plain GetImage where the server or the system has no shared memory.
// The server's 32-bit pixels become opaque RGB32 images; what lies outside the root window is
// black. The images of one grab are written into again by the next grab of the same size once
// nobody holds them any more: the overlay freezes the same displays again and again, and fresh
// memory is paid for in page faults.
//
//   ShmGrabber grabber(connection, displayMap);
//   QList<QImage> images = grabber.grab(areas);   // any thread; shorter than areas on failure
#pragma once

#include "capture/ContentSourcing.h"

#include <QImage>
#include <QList>

#include <xcb/shm.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace quillet {

class DisplayMap;
class X11Connection;

class ShmGrabber {
public:
    ShmGrabber(std::shared_ptr<const X11Connection> connection, std::shared_ptr<const DisplayMap> displays);
    ~ShmGrabber();
    ShmGrabber(const ShmGrabber&) = delete;
    ShmGrabber& operator=(const ShmGrabber&) = delete;

    // One image per area at its pixel size, in order; it stops at the first area that fails.
    QList<QImage> grab(const QList<GrabArea>& areas);

private:
    // The server's pixels as an image, written into `reuse` when nobody else holds it.
    static QImage toImage(const std::uint8_t* data, QSize size, QImage reuse);
    // The root-window pixels of `rect`. Mutex held.
    QImage grabNative(const QRect& rect, QImage reuse);
    // The pixels of `rect`, which lies inside the root window. Mutex held.
    QImage grabInside(const QRect& rect, QImage reuse = {});
    // A segment of at least `bytes`, attached to the server. Mutex held.
    bool ensureShm(std::size_t bytes);
    void releaseShm();

    std::shared_ptr<const X11Connection> connection;
    std::shared_ptr<const DisplayMap> displays;
    std::mutex mutex;  // one grab at a time: they share the segment
    std::vector<QImage> spare;  // the images of the last grab
    bool shmUsable = false;
    xcb_shm_seg_t shmSegment = 0;
    std::uint8_t* shmAddress = nullptr;
    std::size_t shmSize = 0;
};

}  // namespace quillet
