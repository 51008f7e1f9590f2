// Grabs of the root window's pixels through one small MIT-SHM segment, with plain GetImage where
// the server or the system has no shared memory. A grab larger than the segment is taken in
// bands of rows with the server grabbed, so it is one moment of the screen all the same: a
// segment as big as a 4K display would keep 32 MiB resident for good, and a fresh one costs
// thousands of page faults in the server and here the first time it is filled.
// The server's 32-bit pixels become opaque RGB32 images; what lies outside the root window is
// black. The images of one grab are written into again by the next grab of the same size once
// nobody holds them any more: the overlay freezes the same displays again and again, and fresh
// memory is paid for in page faults. Between bursts of captures those images are let go
// (releaseBuffers), so an idle application does not keep a frame of every display; the next grab
// makes them again, at the size the displays have then. A capture's image stays with its PNG
// encoding and thumbnail for a while (a 4K encoding takes a few hundred milliseconds on a busy
// machine), so a standby image of the same size, its pages already mapped, is made on a pool
// thread shortly after (prepareStandby): the next overlay does not pay a fresh frame's page
// faults on the user's path.
//
//   ShmGrabber grabber(connection, displayMap);
//   QList<QImage> images = grabber.grab(areas);   // any thread; shorter than areas on failure
//   grabber.releaseBuffers();                     // any thread; a running grab keeps them
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
    // Drops the images kept for reuse (images still held elsewhere live on with their holders).
    // Does nothing while a grab runs: that grab needs them, and whoever asked to release will
    // ask again later. True when released.
    bool releaseBuffers();
    // Makes a standby image, its pages touched, for every size whose last image is still held
    // elsewhere. Any thread; meant for a pool thread a moment after a grab.
    void prepareStandby();

    // The size of the shared segment: 4 MiB, 273 rows of a 3840-pixel display.
    static constexpr std::size_t segmentBytes = std::size_t(4) << 20;

private:
    // `rows` rows of the server's pixels into `image` from row `first` on, made opaque.
    static void copyRows(const std::uint8_t* data, QImage& image, int first, int rows);
    // `reuse` when nobody else holds it and it has `size`, else a new image.
    static QImage target(QSize size, QImage reuse);
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
