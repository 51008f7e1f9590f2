#include "platform/x11/RootDamage.h"

#include "core/Logging.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/XcbReply.h"

#include <xcb/damage.h>
#include <xcb/xfixes.h>

namespace quillet {

RootDamage::RootDamage(std::shared_ptr<const X11Connection> connection) : connection(std::move(connection)) {
    if (!this->connection->isConnected()) return;
    xcb_connection_t* x = this->connection->xcb();
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(x, &xcb_damage_id);
    if (!extension || !extension->present) {
        qCInfo(lcCapture) << "the X server has no DAMAGE extension; withdrawn windows are watched by their pixels only";
        return;
    }
    // Both extensions answer nothing until the client has said which version it speaks; the
    // drawn area comes back as an XFixes region (version 2).
    const auto damageVersion = xcb_damage_query_version(x, 1, 1);
    const auto fixesVersion = xcb_xfixes_query_version(x, 5, 0);
    XcbReply<xcb_damage_query_version_reply_t> damageReply(xcb_damage_query_version_reply(x, damageVersion, nullptr));
    XcbReply<xcb_xfixes_query_version_reply_t> fixesReply(xcb_xfixes_query_version_reply(x, fixesVersion, nullptr));
    if (!damageReply || !fixesReply || fixesReply->major_version < 2) return;
    notifyEvent = static_cast<std::uint8_t>(extension->first_event + XCB_DAMAGE_NOTIFY);
    parts = xcb_generate_id(x);
    xcb_xfixes_create_region(x, parts, 0, nullptr);
    damage = xcb_generate_id(x);
    xcb_damage_create(x, damage, this->connection->root(), XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    xcb_flush(x);
}

RootDamage::~RootDamage() {
    if (!isAvailable()) return;
    xcb_connection_t* x = connection->xcb();
    xcb_damage_destroy(x, damage);
    xcb_xfixes_destroy_region(x, parts);
    xcb_flush(x);
}

void RootDamage::forget() {
    if (!isAvailable()) return;
    xcb_connection_t* x = connection->xcb();
    const xcb_void_cookie_t subtract = xcb_damage_subtract(x, damage, XCB_NONE, XCB_NONE);
    // Once the answer is here, every report of drawing before the subtraction is too.
    XcbReply<xcb_get_input_focus_reply_t> sync(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));
    bool drawnSince = false;
    while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(x)}) {
        // A report carries the number of our last request the server had read: one made after
        // the subtraction must not be lost, as no other comes until the damage is emptied again.
        if ((event->response_type & 0x7f) != notifyEvent) continue;
        const auto since = static_cast<std::uint16_t>(event->sequence - static_cast<std::uint16_t>(subtract.sequence));
        drawnSince = drawnSince || since < 0x8000;
    }
    reportKept = drawnSince;
}

QRegion RootDamage::collect() {
    if (!isAvailable()) return {};
    xcb_connection_t* x = connection->xcb();
    // Nothing else reads events on this connection: what is not a report of drawing is an
    // error of a request nobody waits on.
    bool reported = reportKept.exchange(false);
    while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(x)}) {
        reported = reported || (event->response_type & 0x7f) == notifyEvent;
    }
    if (!reported) return {};
    // Taking the drawn area out empties the damage, so the next drawing is reported again.
    xcb_damage_subtract(x, damage, XCB_NONE, parts);
    XcbReply<xcb_xfixes_fetch_region_reply_t> region(
        xcb_xfixes_fetch_region_reply(x, xcb_xfixes_fetch_region(x, parts), nullptr));
    if (!region) return {};
    QRegion drawn;
    const xcb_rectangle_t* rectangles = xcb_xfixes_fetch_region_rectangles(region.get());
    const int count = xcb_xfixes_fetch_region_rectangles_length(region.get());
    for (int i = 0; i < count; ++i) drawn += QRect(rectangles[i].x, rectangles[i].y, rectangles[i].width, rectangles[i].height);
    return drawn;
}

}  // namespace quillet
