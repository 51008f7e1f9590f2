#include "platform/x11/X11ContentSource.h"

#include "core/Async.h"
#include "core/Logging.h"
#include "platform/x11/DisplayIdentity.h"
#include "platform/x11/XcbReply.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHash>
#include <QPointer>
#include <QScreen>
#include <QThread>
#include <QWindow>

#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace quillet {

using namespace std::chrono_literals;

namespace {

// Long enough for a compositor to draw one frame without the withdrawn windows, and for the
// windows they uncovered to repaint (X11 keeps no contents behind a window: an uncovered window
// shows stale pixels until its owner redraws).
constexpr auto settleTime = 16ms;
// How long the window manager gets to take the frames of withdrawn windows away.
constexpr auto frameDeadline = 200ms;
// How long a busy compositor gets to repaint where our windows were.
constexpr auto repaintDeadline = 300ms;
// How long a grab on the thread pool waits for the main thread to hide our windows.
constexpr auto handOffDeadline = 2s;

bool onMainThread() {
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

xcb_connection_t* qtConnection() {
    if (auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        return x11->connection();
    }
    return nullptr;
}

struct Atoms {
    xcb_atom_t clientListStacking = XCB_ATOM_NONE;
    xcb_atom_t clientList = XCB_ATOM_NONE;
    xcb_atom_t wmPid = XCB_ATOM_NONE;
    xcb_atom_t wmName = XCB_ATOM_NONE;
    xcb_atom_t utf8String = XCB_ATOM_NONE;
    xcb_atom_t frameExtents = XCB_ATOM_NONE;
    xcb_atom_t windowOpacity = XCB_ATOM_NONE;
    xcb_atom_t windowType = XCB_ATOM_NONE;
    xcb_atom_t typeDesktop = XCB_ATOM_NONE;
    xcb_atom_t typeDock = XCB_ATOM_NONE;
    xcb_atom_t typeNotification = XCB_ATOM_NONE;
    xcb_atom_t typeTooltip = XCB_ATOM_NONE;
    xcb_atom_t typePopupMenu = XCB_ATOM_NONE;
    xcb_atom_t typeDropdownMenu = XCB_ATOM_NONE;
    xcb_atom_t typeCombo = XCB_ATOM_NONE;
    xcb_atom_t typeDnd = XCB_ATOM_NONE;
    xcb_atom_t wmState = XCB_ATOM_NONE;
    xcb_atom_t stateAbove = XCB_ATOM_NONE;
    xcb_atom_t stateHidden = XCB_ATOM_NONE;
};

Atoms internAtoms(xcb_connection_t* connection) {
    Atoms atoms;
    const std::pair<xcb_atom_t*, const char*> names[] = {
        {&atoms.clientListStacking, "_NET_CLIENT_LIST_STACKING"},
        {&atoms.clientList, "_NET_CLIENT_LIST"},
        {&atoms.wmPid, "_NET_WM_PID"},
        {&atoms.wmName, "_NET_WM_NAME"},
        {&atoms.utf8String, "UTF8_STRING"},
        {&atoms.frameExtents, "_NET_FRAME_EXTENTS"},
        {&atoms.windowOpacity, "_NET_WM_WINDOW_OPACITY"},
        {&atoms.windowType, "_NET_WM_WINDOW_TYPE"},
        {&atoms.typeDesktop, "_NET_WM_WINDOW_TYPE_DESKTOP"},
        {&atoms.typeDock, "_NET_WM_WINDOW_TYPE_DOCK"},
        {&atoms.typeNotification, "_NET_WM_WINDOW_TYPE_NOTIFICATION"},
        {&atoms.typeTooltip, "_NET_WM_WINDOW_TYPE_TOOLTIP"},
        {&atoms.typePopupMenu, "_NET_WM_WINDOW_TYPE_POPUP_MENU"},
        {&atoms.typeDropdownMenu, "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU"},
        {&atoms.typeCombo, "_NET_WM_WINDOW_TYPE_COMBO"},
        {&atoms.typeDnd, "_NET_WM_WINDOW_TYPE_DND"},
        {&atoms.wmState, "_NET_WM_STATE"},
        {&atoms.stateAbove, "_NET_WM_STATE_ABOVE"},
        {&atoms.stateHidden, "_NET_WM_STATE_HIDDEN"},
    };
    std::vector<xcb_intern_atom_cookie_t> cookies;
    for (const auto& [atom, name] : names) {
        cookies.push_back(xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name));
    }
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookies[i], nullptr));
        if (reply) *names[i].first = reply->atom;
    }
    return atoms;
}

// The values of a 32-bit property (CARDINAL, WINDOW, ATOM lists).
std::vector<std::uint32_t> values32(const xcb_get_property_reply_t* reply) {
    if (!reply || reply->format != 32 || reply->type == XCB_ATOM_NONE) return {};
    const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
    return std::vector<std::uint32_t>(data, data + xcb_get_property_value_length(reply) / 4);
}

std::optional<QString> text(const xcb_get_property_reply_t* reply, bool utf8) {
    if (!reply || reply->format != 8 || reply->type == XCB_ATOM_NONE) return std::nullopt;
    const char* data = static_cast<const char*>(xcb_get_property_value(reply));
    const int length = xcb_get_property_value_length(reply);
    return utf8 ? QString::fromUtf8(data, length) : QString::fromLatin1(data, length);
}

// A blank image for a grab. Large ones sit on transparent huge pages where the system offers
// them: a 3840 × 2160 grab then takes 16 page faults instead of 8100, which on some machines is
// most of the time a full-screen capture takes.
QImage blankImage(QSize size) {
    constexpr std::size_t hugePage = std::size_t(2) << 20;
    const std::size_t bytes = std::size_t(size.width()) * std::size_t(size.height()) * 4;
    if (bytes < 2 * hugePage) return QImage(size, QImage::Format_RGB32);
    const std::size_t rounded = (bytes + hugePage - 1) / hugePage * hugePage;
    void* memory = std::aligned_alloc(hugePage, rounded);
    if (!memory) return QImage(size, QImage::Format_RGB32);
    madvise(memory, rounded, MADV_HUGEPAGE);  // a hint; without it the image is simply slower to fill
    return QImage(static_cast<uchar*>(memory), size.width(), size.height(), size.width() * 4, QImage::Format_RGB32,
                  [](void* data) { std::free(data); }, memory);
}

// A short line of screen pixels through one of our windows, read while it still showed.
struct ScreenSample {
    QRect line;
    QByteArray pixels;
};

struct Withdrawal {
    QList<QPointer<QWindow>> windows;
    std::vector<xcb_window_t> frames;  // the window manager's frames around them
    std::vector<ScreenSample> samples;
};

// A grab on the thread pool hands the hiding of our windows to the main thread and waits for
// it; when the wait gives up, the late main-thread task must not hide anything any more.
struct HandOff {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    Withdrawal withdrawal;
};

}  // namespace

struct X11ContentSource::Impl {
    Impl() {
        connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(connection)) {
            qCWarning(lcCapture) << "no connection to the X server for screen capture";
            return;
        }
        const xcb_setup_t* setup = xcb_get_setup(connection);
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
        for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
        if (!screens.rem) return;
        root = screens.data->root;
        rootSize = QSize(screens.data->width_in_pixels, screens.data->height_in_pixels);
        // Grabs are read as 32-bit little-endian pixels of a 24- or 32-bit visual.
        for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem; xcb_format_next(&formats)) {
            if (formats.data->depth == screens.data->root_depth) {
                pixelsReadable = formats.data->bits_per_pixel == 32 &&
                                 (screens.data->root_depth == 24 || screens.data->root_depth == 32) &&
                                 setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST &&
                                 QSysInfo::ByteOrder == QSysInfo::LittleEndian;
            }
        }
        atoms = internAtoms(connection);
        const xcb_query_extension_reply_t* shm = xcb_get_extension_data(connection, &xcb_shm_id);
        shmUsable = shm && shm->present;
        connected = true;
    }

    ~Impl() {
        if (!connection) return;
        releaseShm();
        xcb_disconnect(connection);
    }

    // ---- displays ------------------------------------------------------------------------

    // Main thread: QScreen and DisplayIdentity are not to be touched elsewhere.
    void rebuildDisplays() {
        QHash<std::uint32_t, QRect> monitors;
        if (connected) {
            XcbReply<xcb_randr_get_monitors_reply_t> reply(
                xcb_randr_get_monitors_reply(connection, xcb_randr_get_monitors(connection, root, 1), nullptr));
            if (reply) {
                for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
                     xcb_randr_monitor_info_next(&it)) {
                    monitors.insert(it.data->name, QRect(it.data->x, it.data->y, it.data->width, it.data->height));
                }
            }
            XcbReply<xcb_get_geometry_reply_t> geometry(
                xcb_get_geometry_reply(connection, xcb_get_geometry(connection, root), nullptr));
            if (geometry) {
                std::lock_guard lock(displayMutex);
                rootSize = QSize(geometry->width, geometry->height);
            }
        }
        QList<ShareableDisplay> list;
        QList<QRect> natives;
        for (QScreen* screen : QGuiApplication::screens()) {
            const std::uint32_t id = DisplayIdentity::displayID(screen);
            const QRect geometry = screen->geometry();
            const double scale = screen->devicePixelRatio();
            list << ShareableDisplay{id, QRectF(geometry), scale};
            // Qt keeps a screen's top-left corner in device pixels and scales only its size.
            natives << monitors.value(id, QRect(geometry.topLeft(), geometry.size() * scale));
        }
        const std::uint32_t primary = DisplayIdentity::displayID(QGuiApplication::primaryScreen());
        std::function<void()> handler;
        {
            std::lock_guard lock(displayMutex);
            displayList = list;
            nativeRects = natives;
            mainID = primary;
            handler = onDisplaysChange;
        }
        if (handler) handler();
    }

    struct Placement {
        QRectF bounds;
        QRect native;
        double scale = 1.0;
    };

    // The display that holds `point` (global display space), else the first one `area` touches.
    std::optional<Placement> placement(const QRectF& area) {
        std::lock_guard lock(displayMutex);
        const QPointF center = area.center();
        for (qsizetype i = 0; i < displayList.size(); ++i) {
            const QRectF& bounds = displayList[i].bounds;
            if (center.x() >= bounds.left() && center.x() < bounds.right() && center.y() >= bounds.top() &&
                center.y() < bounds.bottom()) {
                return Placement{bounds, nativeRects[i], displayList[i].scale};
            }
        }
        for (qsizetype i = 0; i < displayList.size(); ++i) {
            if (displayList[i].bounds.intersects(area)) return Placement{displayList[i].bounds, nativeRects[i], displayList[i].scale};
        }
        return std::nullopt;
    }

    // A rectangle of the root window (device pixels) in global display space.
    QRectF toLogical(const QRect& native) {
        std::lock_guard lock(displayMutex);
        const QPoint center = native.center();
        for (qsizetype i = 0; i < nativeRects.size(); ++i) {
            if (nativeRects[i].contains(center)) {
                const double scale = displayList[i].scale;
                return QRectF(displayList[i].bounds.topLeft() + QPointF(native.topLeft() - nativeRects[i].topLeft()) / scale,
                              QSizeF(native.size()) / scale);
            }
        }
        return QRectF(native);
    }

    // The root-window pixels of `area`; within a pixel of `size`, the size is `size` exactly so
    // rounding never makes an image be rescaled.
    QRect toNative(const GrabArea& area) {
        const std::optional<Placement> where = placement(area.area);
        const QRectF bounds = where ? where->bounds : QRectF();
        const QPoint nativeOrigin = where ? where->native.topLeft() : QPoint();
        const double scale = where ? where->scale : 1.0;
        const double left = nativeOrigin.x() + (area.area.left() - bounds.left()) * scale;
        const double top = nativeOrigin.y() + (area.area.top() - bounds.top()) * scale;
        const int x = static_cast<int>(std::lround(left));
        const int y = static_cast<int>(std::lround(top));
        int width = static_cast<int>(std::lround(left + area.area.width() * scale)) - x;
        int height = static_cast<int>(std::lround(top + area.area.height() * scale)) - y;
        if (std::abs(width - area.pixelSize.width()) <= 1) width = area.pixelSize.width();
        if (std::abs(height - area.pixelSize.height()) <= 1) height = area.pixelSize.height();
        return QRect(x, y, std::max(width, 1), std::max(height, 1));
    }

    // ---- windows -------------------------------------------------------------------------

    std::optional<std::vector<xcb_window_t>> windowsProperty(xcb_atom_t property) {
        if (property == XCB_ATOM_NONE) return std::nullopt;
        XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, root, property, XCB_ATOM_WINDOW, 0, 1 << 16), nullptr));
        if (!reply || reply->type != XCB_ATOM_WINDOW) return std::nullopt;
        return values32(reply.get());
    }

    std::optional<QList<WindowInfo>> windowList() {
        if (!connected) return std::nullopt;
        // Bottom to top, as X11 stacks.
        std::optional<std::vector<xcb_window_t>> clients = windowsProperty(atoms.clientListStacking);
        if (!clients) clients = windowsProperty(atoms.clientList);

        XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
        if (!tree && !clients) return std::nullopt;
        std::vector<xcb_window_t> children;
        if (tree) {
            const xcb_window_t* data = xcb_query_tree_children(tree.get());
            children.assign(data, data + xcb_query_tree_children_length(tree.get()));
        }
        std::vector<xcb_get_window_attributes_cookie_t> cookies;
        cookies.reserve(children.size());
        for (xcb_window_t child : children) cookies.push_back(xcb_get_window_attributes(connection, child));
        std::vector<xcb_window_t> popups;    // override-redirect: menus, tool tips, our overlays
        std::vector<xcb_window_t> unmanaged;  // top-level windows when no manager lists clients
        for (std::size_t i = 0; i < children.size(); ++i) {
            XcbReply<xcb_get_window_attributes_reply_t> attributes(
                xcb_get_window_attributes_reply(connection, cookies[i], nullptr));
            if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
                attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT) {
                continue;
            }
            (attributes->override_redirect ? popups : unmanaged).push_back(children[i]);
        }

        // Front-most first: pop-ups lie above every managed window.
        std::vector<std::pair<xcb_window_t, bool>> ordered;  // (window, is a pop-up)
        for (auto it = popups.rbegin(); it != popups.rend(); ++it) ordered.emplace_back(*it, true);
        const std::vector<xcb_window_t>& managed = clients ? *clients : unmanaged;
        for (auto it = managed.rbegin(); it != managed.rend(); ++it) ordered.emplace_back(*it, false);
        return describe(ordered);
    }

    QList<WindowInfo> describe(const std::vector<std::pair<xcb_window_t, bool>>& windows) {
        struct Cookies {
            xcb_get_window_attributes_cookie_t attributes;
            xcb_get_geometry_cookie_t geometry;
            xcb_translate_coordinates_cookie_t origin;
            xcb_get_property_cookie_t pid, netName, name, extents, opacity, type, state;
        };
        const auto property = [this](xcb_window_t window, xcb_atom_t atom, xcb_atom_t type, std::uint32_t length) {
            return xcb_get_property(connection, 0, window, atom, type, 0, length);
        };
        // Everything is asked first and read afterwards: one round trip for the whole list.
        std::vector<Cookies> cookies;
        cookies.reserve(windows.size());
        for (const auto& [window, popup] : windows) {
            cookies.push_back(Cookies{
                xcb_get_window_attributes(connection, window),
                xcb_get_geometry(connection, window),
                xcb_translate_coordinates(connection, window, root, 0, 0),
                property(window, atoms.wmPid, XCB_ATOM_CARDINAL, 1),
                property(window, atoms.wmName, atoms.utf8String, 1024),
                property(window, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 1024),
                property(window, atoms.frameExtents, XCB_ATOM_CARDINAL, 4),
                property(window, atoms.windowOpacity, XCB_ATOM_CARDINAL, 1),
                property(window, atoms.windowType, XCB_ATOM_ATOM, 32),
                property(window, atoms.wmState, XCB_ATOM_ATOM, 32),
            });
        }
        QList<WindowInfo> list;
        for (std::size_t i = 0; i < windows.size(); ++i) {
            const Cookies& c = cookies[i];
            XcbReply<xcb_get_window_attributes_reply_t> attributes(
                xcb_get_window_attributes_reply(connection, c.attributes, nullptr));
            XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(connection, c.geometry, nullptr));
            XcbReply<xcb_translate_coordinates_reply_t> origin(
                xcb_translate_coordinates_reply(connection, c.origin, nullptr));
            XcbReply<xcb_get_property_reply_t> pid(xcb_get_property_reply(connection, c.pid, nullptr));
            XcbReply<xcb_get_property_reply_t> netName(xcb_get_property_reply(connection, c.netName, nullptr));
            XcbReply<xcb_get_property_reply_t> name(xcb_get_property_reply(connection, c.name, nullptr));
            XcbReply<xcb_get_property_reply_t> extents(xcb_get_property_reply(connection, c.extents, nullptr));
            XcbReply<xcb_get_property_reply_t> opacity(xcb_get_property_reply(connection, c.opacity, nullptr));
            XcbReply<xcb_get_property_reply_t> type(xcb_get_property_reply(connection, c.type, nullptr));
            XcbReply<xcb_get_property_reply_t> state(xcb_get_property_reply(connection, c.state, nullptr));

            // Gone meanwhile, minimised or on another desktop: not on screen.
            if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) continue;
            const std::vector<std::uint32_t> states = values32(state.get());
            if (std::find(states.begin(), states.end(), atoms.stateHidden) != states.end()) continue;

            WindowInfo info;
            info.id = windows[i].first;
            if (const auto values = values32(pid.get()); !values.empty()) info.processID = values.front();
            info.title = text(netName.get(), true);
            if (!info.title) info.title = text(name.get(), false);
            if (const auto values = values32(opacity.get()); !values.empty()) info.alpha = values.front() / double(0xffffffffu);
            if (geometry && origin) {
                QRect native(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
                // The frame the window manager draws around the window belongs to what the user sees.
                if (const auto frame = values32(extents.get()); frame.size() == 4) {
                    native.adjust(-int(frame[0]), -int(frame[2]), int(frame[1]), int(frame[3]));
                }
                info.frame = toLogical(native);
            }
            info.layer = layer(windows[i].second, values32(type.get()), states);
            list << info;
        }
        return list;
    }

    int layer(bool popup, const std::vector<std::uint32_t>& types, const std::vector<std::uint32_t>& states) const {
        if (popup) return popupLayer;
        const auto has = [](const std::vector<std::uint32_t>& values, xcb_atom_t atom) {
            return atom != XCB_ATOM_NONE && std::find(values.begin(), values.end(), atom) != values.end();
        };
        if (has(types, atoms.typeDesktop)) return desktopLayer;
        if (has(types, atoms.typeDock)) return dockLayer;
        if (has(types, atoms.typeNotification)) return notificationLayer;
        for (xcb_atom_t transient : {atoms.typeTooltip, atoms.typePopupMenu, atoms.typeDropdownMenu, atoms.typeCombo,
                                     atoms.typeDnd}) {
            if (has(types, transient)) return popupLayer;
        }
        if (has(states, atoms.stateAbove)) return aboveLayer;
        return 0;
    }

    // ---- grabbing ------------------------------------------------------------------------

    void releaseShm() {
        if (!shmAddress) return;
        xcb_shm_detach(connection, shmSegment);
        xcb_flush(connection);
        shmdt(shmAddress);
        shmAddress = nullptr;
        shmSize = 0;
    }

    // A shared-memory segment of at least `bytes`, attached to the server. Grab mutex held.
    bool ensureShm(std::size_t bytes) {
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
        shmSegment = xcb_generate_id(connection);
        XcbReply<xcb_generic_error_t> error(
            xcb_request_check(connection, xcb_shm_attach_checked(connection, shmSegment, static_cast<std::uint32_t>(id), 0)));
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

    // The server's pixels as an image, written into `reuse` when nobody else holds it: fresh
    // memory is paid for in page faults, which cost more than the copy itself.
    static QImage toImage(const std::uint8_t* data, QSize size, QImage reuse) {
        QImage image = std::move(reuse);
        if (image.size() != size || image.format() != QImage::Format_RGB32 || !image.isDetached()) {
            image = blankImage(size);
        }
        if (image.isNull()) return image;
        const auto* source = reinterpret_cast<const std::uint32_t*>(data);
        for (int y = 0; y < size.height(); ++y) {
            auto* line = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
            const std::uint32_t* row = source + std::size_t(y) * size.width();
            // The server leaves the padding byte undefined; QImage wants it opaque.
            for (int x = 0; x < size.width(); ++x) line[x] = row[x] | 0xff000000u;
        }
        return image;
    }

    // The pixels of `rect`, which lies inside the root window. Grab mutex held.
    QImage grabInside(const QRect& rect, QImage reuse = {}) {
        const std::size_t bytes = std::size_t(rect.width()) * std::size_t(rect.height()) * 4;
        // Made once, big enough for the largest display: the warm-up's one-pixel grab sets it up
        // for every capture that follows.
        std::size_t largest = 0;
        {
            std::lock_guard lock(displayMutex);
            for (const QRect& display : nativeRects) {
                largest = std::max(largest, std::size_t(display.width()) * std::size_t(display.height()) * 4);
            }
        }
        if (ensureShm(std::max(bytes, largest))) {
            const auto cookie = xcb_shm_get_image(connection, root, static_cast<std::int16_t>(rect.x()),
                                                  static_cast<std::int16_t>(rect.y()), static_cast<std::uint16_t>(rect.width()),
                                                  static_cast<std::uint16_t>(rect.height()), ~0u,
                                                  XCB_IMAGE_FORMAT_Z_PIXMAP, shmSegment, 0);
            XcbReply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(connection, cookie, nullptr));
            if (reply) return toImage(shmAddress, rect.size(), std::move(reuse));
            qCWarning(lcCapture) << "MIT-SHM grab failed; falling back to GetImage";
            releaseShm();
            shmUsable = false;
        }
        const auto cookie = xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, static_cast<std::int16_t>(rect.x()),
                                          static_cast<std::int16_t>(rect.y()), static_cast<std::uint16_t>(rect.width()),
                                          static_cast<std::uint16_t>(rect.height()), ~0u);
        XcbReply<xcb_get_image_reply_t> reply(xcb_get_image_reply(connection, cookie, nullptr));
        if (!reply || std::size_t(xcb_get_image_data_length(reply.get())) < bytes) return {};
        return toImage(xcb_get_image_data(reply.get()), rect.size(), std::move(reuse));
    }

    // The root-window pixels of `rect`; what lies outside the root window is black.
    QImage grabNative(const QRect& rect, QImage reuse) {
        QSize root;
        {
            std::lock_guard lock(displayMutex);
            root = rootSize;
        }
        const QRect inside = rect.intersected(QRect(QPoint(0, 0), root));
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

    // ---- keeping our own windows out -----------------------------------------------------

    // Main thread: hides every visible window of ours and waits until the server has done so.
    Withdrawal hideOwnWindows() {
        Withdrawal withdrawal;
        for (QWindow* window : QGuiApplication::topLevelWindows()) {
            if (!window->isVisible() || window->type() == Qt::Desktop || window->type() == Qt::ForeignWindow) continue;
            const auto id = static_cast<xcb_window_t>(window->winId());
            XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(connection, xcb_query_tree(connection, id), nullptr));
            if (tree && tree->parent != root && tree->parent != XCB_WINDOW_NONE) withdrawal.frames.push_back(tree->parent);
            withdrawal.windows << QPointer<QWindow>(window);
            const double scale = window->devicePixelRatio();
            const QRect area(window->geometry().topLeft() * scale, window->geometry().size() * scale);
            if (auto sample = sampleScreen(area)) withdrawal.samples.push_back(*sample);
            window->hide();
        }
        if (!withdrawal.windows.isEmpty()) {
            if (xcb_connection_t* qt = qtConnection()) {
                // A round trip on Qt's own connection: the server has now unmapped them.
                XcbReply<xcb_get_input_focus_reply_t> sync(xcb_get_input_focus_reply(qt, xcb_get_input_focus(qt), nullptr));
            }
        }
        return withdrawal;
    }

    // Any thread: hides our windows (on the main thread) and waits until they are off screen.
    std::optional<Withdrawal> withdraw(const std::shared_ptr<Impl>& self) {
        Withdrawal withdrawal;
        if (onMainThread()) {
            withdrawal = hideOwnWindows();
        } else {
            auto handOff = std::make_shared<HandOff>();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, handOff] {
                    std::lock_guard lock(handOff->mutex);
                    if (handOff->abandoned) return;
                    handOff->withdrawal = self->hideOwnWindows();
                    handOff->finished = true;
                    handOff->done.notify_all();
                },
                Qt::QueuedConnection);
            std::unique_lock lock(handOff->mutex);
            if (!handOff->done.wait_for(lock, handOffDeadline, [&] { return handOff->finished; })) {
                handOff->abandoned = true;
                qCWarning(lcCapture) << "the main thread did not hide our windows in time; no grab";
                return std::nullopt;
            }
            withdrawal = std::move(handOff->withdrawal);
        }
        if (withdrawal.windows.isEmpty()) return withdrawal;
        waitForFramesGone(withdrawal.frames);
        waitForRepaint(withdrawal.samples);
        std::this_thread::sleep_for(settleTime);
        return withdrawal;
    }

    // The pixels of a line through the middle of `area` as the screen shows them now.
    std::optional<ScreenSample> sampleScreen(const QRect& area) {
        const QRect line = QRect(area.left(), area.center().y(), qMin(area.width(), 256), 1).intersected(QRect(QPoint(0, 0), rootSize));
        if (line.isEmpty()) return std::nullopt;
        XcbReply<xcb_get_image_reply_t> reply(xcb_get_image_reply(
            connection,
            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, static_cast<std::int16_t>(line.x()),
                          static_cast<std::int16_t>(line.y()), static_cast<std::uint16_t>(line.width()), 1, ~0u),
            nullptr));
        if (!reply) return std::nullopt;
        const auto* data = reinterpret_cast<const char*>(xcb_get_image_data(reply.get()));
        return ScreenSample{line, QByteArray(data, xcb_get_image_data_length(reply.get()))};
    }

    // A compositor repaints in its own time, later still when the machine is busy: wait (with a
    // bound) until the screen no longer shows what our windows showed where they were.
    void waitForRepaint(const std::vector<ScreenSample>& samples) {
        const auto deadline = std::chrono::steady_clock::now() + repaintDeadline;
        for (const ScreenSample& sample : samples) {
            while (std::chrono::steady_clock::now() < deadline) {
                const auto now = sampleScreen(sample.line);
                if (!now || now->pixels != sample.pixels) break;
                std::this_thread::sleep_for(2ms);
            }
        }
    }

    void waitForFramesGone(const std::vector<xcb_window_t>& frames) {
        const auto deadline = std::chrono::steady_clock::now() + frameDeadline;
        for (xcb_window_t frame : frames) {
            while (std::chrono::steady_clock::now() < deadline) {
                XcbReply<xcb_get_window_attributes_reply_t> attributes(
                    xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, frame), nullptr));
                if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) break;
                std::this_thread::sleep_for(1ms);
            }
        }
    }

    static void restore(const Withdrawal& withdrawal) {
        const QList<QPointer<QWindow>> windows = withdrawal.windows;
        const auto show = [windows] {
            // A window closed meanwhile is gone (QPointer) and stays so.
            for (const QPointer<QWindow>& window : windows) {
                if (window) window->setVisible(true);
            }
        };
        if (onMainThread()) {
            show();
        } else {
            QMetaObject::invokeMethod(QCoreApplication::instance(), show, Qt::QueuedConnection);
        }
    }

    xcb_connection_t* connection = nullptr;
    int screenNumber = 0;
    xcb_window_t root = XCB_WINDOW_NONE;
    bool connected = false;
    bool pixelsReadable = false;
    Atoms atoms;
    const qint64 pid = QCoreApplication::applicationPid();

    std::mutex displayMutex;
    QList<ShareableDisplay> displayList;
    QList<QRect> nativeRects;  // the same displays in root-window pixels
    std::uint32_t mainID = 0;
    QSize rootSize;
    std::function<void()> onDisplaysChange;

    std::mutex grabMutex;  // one grab at a time: they share the segment
    // The images of the last grab. Once their users let go, the next grab of the same size
    // writes into them: the overlay freezes the same displays again and again.
    std::vector<QImage> spare;
    bool shmUsable = false;
    xcb_shm_seg_t shmSegment = 0;
    std::uint8_t* shmAddress = nullptr;
    std::size_t shmSize = 0;
};

X11ContentSource::X11ContentSource() : impl(std::make_shared<Impl>()), screenWatcher(std::make_unique<QObject>()) {
    impl->rebuildDisplays();
    QObject* watcher = screenWatcher.get();
    std::weak_ptr<Impl> weak = impl;
    // Screens come and go in steps; the table is rebuilt once Qt has settled.
    const auto rebuild = [watcher, weak] {
        runOnMainThread(watcher, [weak] {
            if (auto alive = weak.lock()) alive->rebuildDisplays();
        });
    };
    const auto follow = [watcher, rebuild](QScreen* screen) {
        QObject::connect(screen, &QScreen::geometryChanged, watcher, rebuild);
    };
    for (QScreen* screen : QGuiApplication::screens()) follow(screen);
    QObject::connect(qGuiApp, &QGuiApplication::screenAdded, watcher, [follow, rebuild](QScreen* screen) {
        follow(screen);
        rebuild();
    });
    QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, watcher, rebuild);
    QObject::connect(qGuiApp, &QGuiApplication::primaryScreenChanged, watcher, rebuild);
}

X11ContentSource::~X11ContentSource() = default;

bool X11ContentSource::isConnected() const { return impl->connected; }

qint64 X11ContentSource::processID() { return impl->pid; }

QList<ShareableDisplay> X11ContentSource::displays() {
    std::lock_guard lock(impl->displayMutex);
    return impl->displayList;
}

std::uint32_t X11ContentSource::mainDisplayID() {
    std::lock_guard lock(impl->displayMutex);
    return impl->mainID;
}

std::optional<QList<WindowInfo>> X11ContentSource::windowList() { return impl->windowList(); }

Expected<ShareableContent, CaptureError> X11ContentSource::fetchContent() {
    if (!impl->connected) return unexpected(CaptureError::grabFailed);
    ShareableContent content;
    content.displays = displays();
    for (const WindowInfo& info : impl->windowList().value_or(QList<WindowInfo>{})) {
        if (info.layer == desktopLayer || !info.frame) continue;
        content.windows << ShareableWindow{info.id, info.processID, *info.frame};
        if (info.processID && !content.applications.contains(*info.processID)) content.applications << *info.processID;
    }
    return content;
}

Expected<QList<QImage>, CaptureError> X11ContentSource::grab(const QList<GrabArea>& areas,
                                                            const QList<qint64>& excludedApplications) {
    if (!impl->connected || !impl->pixelsReadable) return unexpected(CaptureError::grabFailed);
    // Only our own windows can be taken off the screen; X11 has no way to leave out others'.
    std::optional<Withdrawal> withdrawal;
    if (excludedApplications.contains(impl->pid)) {
        withdrawal = impl->withdraw(impl);
        if (!withdrawal) return unexpected(CaptureError::grabFailed);
    }
    QList<QImage> images;
    {
        std::lock_guard lock(impl->grabMutex);
        std::vector<QImage> spare = std::exchange(impl->spare, {});
        for (const GrabArea& area : areas) {
            const QRect native = impl->toNative(area);
            QImage reuse;
            const auto idle = std::find_if(spare.begin(), spare.end(), [&](const QImage& image) {
                return image.size() == native.size() && image.isDetached();
            });
            if (idle != spare.end()) {
                reuse = std::move(*idle);
                spare.erase(idle);
            }
            QImage image = impl->grabNative(native, std::move(reuse));
            if (image.isNull()) break;
            if (image.size() != area.pixelSize) {
                image = image.scaled(area.pixelSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            }
            images << image;
        }
        impl->spare.assign(images.begin(), images.end());
    }
    if (withdrawal) Impl::restore(*withdrawal);
    if (images.size() != areas.size()) return unexpected(CaptureError::grabFailed);
    return images;
}

void X11ContentSource::setOnDisplaysChange(std::function<void()> handler) {
    std::lock_guard lock(impl->displayMutex);
    impl->onDisplaysChange = std::move(handler);
}

}  // namespace quillet
