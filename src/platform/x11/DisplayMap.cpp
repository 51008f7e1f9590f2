#include "platform/x11/DisplayMap.h"

#include "platform/x11/DisplayIdentity.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/XcbReply.h"

#include <QGuiApplication>
#include <QHash>
#include <QScreen>

#include <xcb/randr.h>

#include <algorithm>
#include <cmath>

namespace quillet {

DisplayMap::DisplayMap(std::shared_ptr<const X11Connection> connection)
    : connection(std::move(connection)), root(this->connection->initialRootSize()) {}

void DisplayMap::rebuild() {
    QHash<std::uint32_t, QRect> monitors;
    if (connection->isConnected()) {
        xcb_connection_t* x = connection->xcb();
        XcbReply<xcb_randr_get_monitors_reply_t> reply(
            xcb_randr_get_monitors_reply(x, xcb_randr_get_monitors(x, connection->root(), 1), nullptr));
        if (reply) {
            for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem; xcb_randr_monitor_info_next(&it)) {
                monitors.insert(it.data->name, QRect(it.data->x, it.data->y, it.data->width, it.data->height));
            }
        }
        XcbReply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(x, xcb_get_geometry(x, connection->root()), nullptr));
        if (geometry) {
            std::lock_guard lock(mutex);
            root = QSize(geometry->width, geometry->height);
        }
    }
    QList<ShareableDisplay> list;
    QList<QRect> natives;
    for (QScreen* screen : QGuiApplication::screens()) {
        // The monitor's name atom is the display's identifier.
        const std::uint32_t id = DisplayIdentity::displayID(screen);
        const QRect geometry = screen->geometry();
        const double scale = screen->devicePixelRatio();
        list << ShareableDisplay{id, QRectF(geometry), scale};
        // Qt keeps a screen's top-left corner in device pixels and scales only its size.
        natives << monitors.value(id, QRect(geometry.topLeft(), geometry.size() * scale));
    }
    const std::uint32_t primary = DisplayIdentity::displayID(QGuiApplication::primaryScreen());
    std::lock_guard lock(mutex);
    displayList = list;
    nativeRects = natives;
    mainID = primary;
}

QList<ShareableDisplay> DisplayMap::displays() const {
    std::lock_guard lock(mutex);
    return displayList;
}

std::uint32_t DisplayMap::mainDisplayID() const {
    std::lock_guard lock(mutex);
    return mainID;
}

QSize DisplayMap::rootSize() const {
    std::lock_guard lock(mutex);
    return root;
}

std::optional<DisplayMap::Placement> DisplayMap::placement(const QRectF& area) const {
    std::lock_guard lock(mutex);
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

QRectF DisplayMap::toLogical(const QRect& native) const {
    std::lock_guard lock(mutex);
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

QRect DisplayMap::toNative(const GrabArea& area) const {
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

}  // namespace quillet
