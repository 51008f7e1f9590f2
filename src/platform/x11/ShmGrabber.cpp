#include "platform/x11/ShmGrabber.h"

#include "core/Logging.h"
#include "platform/x11/DisplayMap.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/XcbReply.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstring>

namespace quillet {

namespace {

// A blank image for a grab. Plain pages: asking for transparent huge pages made the first grab
// after an idle spell wait 50-80 ms at 4K on a machine whose memory was fragmented (the kernel
// compacts memory in the page fault), against about 15 ms for ordinary page faults.
QImage blankImage(QSize size) { return QImage(size, QImage::Format_RGB32); }

}  // namespace

ShmGrabber::ShmGrabber(std::shared_ptr<const X11Connection> connection, std::shared_ptr<const DisplayMap> displays)
    : connection(std::move(connection)), displays(std::move(displays)) {
    shmUsable = this->connection->isConnected() && this->connection->offersShm();
}

ShmGrabber::~ShmGrabber() { releaseShm(); }

QList<QImage> ShmGrabber::grab(const QList<GrabArea>& areas) {
    QList<QImage> images;
    std::lock_guard lock(mutex);
    std::vector<QImage> idleImages = std::exchange(spare, {});
    for (const GrabArea& area : areas) {
        const QRect native = displays->toNative(area);
        QImage reuse;
        const auto idle = std::find_if(idleImages.begin(), idleImages.end(), [&](const QImage& image) {
            return image.size() == native.size() && image.isDetached();
        });
        if (idle != idleImages.end()) {
            reuse = std::move(*idle);
            idleImages.erase(idle);
        }
        QImage image = grabNative(native, std::move(reuse));
        if (image.isNull()) break;
        if (image.size() != area.pixelSize) {
            image = image.scaled(area.pixelSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        images << image;
    }
    // Kept for the next grab: what this one returned, and one unused standby per size beside it.
    std::vector<QImage> kept(images.begin(), images.end());
    for (QImage& image : idleImages) {
        const QSize size = image.size();
        const auto sameSize = std::count_if(kept.begin(), kept.end(), [&](const QImage& k) { return k.size() == size; });
        if (sameSize < 2 && image.isDetached()) kept.push_back(std::move(image));
    }
    spare = std::move(kept);
    return images;
}

void ShmGrabber::prepareStandby() {
    std::vector<QSize> wanted;
    {
        std::lock_guard lock(mutex);
        for (const QImage& image : spare) {
            const QSize size = image.size();
            const bool ready = std::any_of(spare.begin(), spare.end(),
                                           [&](const QImage& s) { return s.size() == size && s.isDetached(); });
            if (!ready && std::find(wanted.begin(), wanted.end(), size) == wanted.end()) wanted.push_back(size);
        }
    }
    for (const QSize size : wanted) {
        QImage standby = blankImage(size);
        if (standby.isNull()) continue;
        standby.fill(Qt::black);  // maps every page now rather than in the next grab
        std::lock_guard lock(mutex);
        spare.push_back(std::move(standby));
    }
}

bool ShmGrabber::releaseBuffers() {
    std::unique_lock lock(mutex, std::try_to_lock);
    if (!lock.owns_lock()) return false;
    spare.clear();
    return true;
}

void ShmGrabber::releaseShm() {
    if (!shmAddress) return;
    xcb_shm_detach(connection->xcb(), shmSegment);
    xcb_flush(connection->xcb());
    shmdt(shmAddress);
    shmAddress = nullptr;
    shmSize = 0;
}

bool ShmGrabber::ensureShm(std::size_t bytes) {
    if (!shmUsable) return false;
    if (shmAddress && shmSize >= bytes) return true;
    releaseShm();
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0) {
        shmUsable = false;
        return false;
    }
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        shmUsable = false;
        return false;
    }
    xcb_connection_t* x = connection->xcb();
    shmSegment = xcb_generate_id(x);
    XcbReply<xcb_generic_error_t> error(
        xcb_request_check(x, xcb_shm_attach_checked(x, shmSegment, static_cast<std::uint32_t>(id), 0)));
    // Marked for removal at once: the segment goes away with the last one detached, even
    // if this process dies.
    shmctl(id, IPC_RMID, nullptr);
    if (error) {
        shmdt(address);
        shmUsable = false;
        return false;
    }
    shmAddress = static_cast<std::uint8_t*>(address);
    shmSize = bytes;
    return true;
}

QImage ShmGrabber::target(QSize size, QImage reuse) {
    if (reuse.size() == size && reuse.format() == QImage::Format_RGB32 && reuse.isDetached()) return reuse;
    return blankImage(size);
}

void ShmGrabber::copyRows(const std::uint8_t* data, QImage& image, int first, int rows) {
    const int width = image.width();
    const auto* source = reinterpret_cast<const std::uint32_t*>(data);
    for (int y = 0; y < rows; ++y) {
        auto* line = reinterpret_cast<std::uint32_t*>(image.scanLine(first + y));
        const std::uint32_t* row = source + std::size_t(y) * width;
        // The server leaves the padding byte undefined; QImage wants it opaque.
        for (int x = 0; x < width; ++x) line[x] = row[x] | 0xff000000u;
    }
}

QImage ShmGrabber::grabInside(const QRect& rect, QImage reuse) {
    xcb_connection_t* x = connection->xcb();
    const xcb_window_t root = connection->root();
    const std::size_t rowBytes = std::size_t(rect.width()) * 4;
    if (ensureShm(segmentBytes) && rowBytes <= shmSize) {
        QImage image = target(rect.size(), std::move(reuse));
        if (image.isNull()) return image;
        const int bandRows = int(std::min<std::size_t>(shmSize / rowBytes, std::size_t(rect.height())));
        // No other client's drawing gets between the bands.
        const bool banded = bandRows < rect.height();
        if (banded) xcb_grab_server(x);
        bool complete = true;
        for (int first = 0; first < rect.height() && complete; first += bandRows) {
            const int rows = std::min(bandRows, rect.height() - first);
            const auto cookie = xcb_shm_get_image(
                x, root, static_cast<std::int16_t>(rect.x()), static_cast<std::int16_t>(rect.y() + first),
                static_cast<std::uint16_t>(rect.width()), static_cast<std::uint16_t>(rows), ~0u,
                XCB_IMAGE_FORMAT_Z_PIXMAP, shmSegment, 0);
            XcbReply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(x, cookie, nullptr));
            complete = bool(reply);
            if (complete) copyRows(shmAddress, image, first, rows);
        }
        if (banded) {
            xcb_ungrab_server(x);
            xcb_flush(x);
        }
        if (complete) return image;
        qCWarning(lcCapture) << "MIT-SHM grab failed; falling back to GetImage";
        releaseShm();
        shmUsable = false;
        reuse = std::move(image);
    }
    const std::size_t bytes = rowBytes * std::size_t(rect.height());
    const auto cookie = xcb_get_image(x, XCB_IMAGE_FORMAT_Z_PIXMAP, root, static_cast<std::int16_t>(rect.x()),
                                      static_cast<std::int16_t>(rect.y()), static_cast<std::uint16_t>(rect.width()),
                                      static_cast<std::uint16_t>(rect.height()), ~0u);
    XcbReply<xcb_get_image_reply_t> reply(xcb_get_image_reply(x, cookie, nullptr));
    if (!reply || std::size_t(xcb_get_image_data_length(reply.get())) < bytes) return {};
    QImage image = target(rect.size(), std::move(reuse));
    if (!image.isNull()) copyRows(xcb_get_image_data(reply.get()), image, 0, rect.height());
    return image;
}

QImage ShmGrabber::grabNative(const QRect& rect, QImage reuse) {
    const QRect inside = rect.intersected(QRect(QPoint(0, 0), displays->rootSize()));
    if (inside == rect) return grabInside(rect, std::move(reuse));
    QImage image = blankImage(rect.size());
    image.fill(Qt::black);
    if (inside.isEmpty()) return image;
    const QImage part = grabInside(inside);
    if (part.isNull()) return {};
    for (int y = 0; y < part.height(); ++y) {
        std::memcpy(image.scanLine(inside.y() - rect.y() + y) + (inside.x() - rect.x()) * 4, part.constScanLine(y),
                    std::size_t(part.width()) * 4);
    }
    return image;
}

}  // namespace quillet
