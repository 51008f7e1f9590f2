// A minimal clipboard manager for the end-to-end tests, doing what a desktop's manager does when
// an application exits: it owns CLIPBOARD_MANAGER; asked to SAVE_TARGETS, it copies the PNG of
// the CLIPBOARD owner, takes CLIPBOARD itself, answers the request, and from then on serves the
// saved bytes as image/png. Runs until killed. Deliberately small: one target, no TARGETS list
// and no INCR transfers (Qt sends everything in one piece while it exits).
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

template <class T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

xcb_connection_t* connection = nullptr;
xcb_window_t window = XCB_NONE;

xcb_atom_t atom(const char* name) {
    Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr), &std::free);
    return reply ? reply->atom : XCB_NONE;
}

// Asks the CLIPBOARD owner for `target` and reads the answer; empty when it refused.
std::vector<std::uint8_t> convert(xcb_atom_t clipboard, xcb_atom_t target, xcb_atom_t property, xcb_timestamp_t time) {
    xcb_delete_property(connection, window, property);
    xcb_convert_selection(connection, window, clipboard, target, property, time);
    xcb_flush(connection);
    // Other events are dropped: the requests a save makes are answered while the exiting
    // application waits for us.
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        const auto notify = *reinterpret_cast<xcb_selection_notify_event_t*>(event);
        std::free(event);
        if ((notify.response_type & 0x7f) != XCB_SELECTION_NOTIFY || notify.requestor != window) continue;
        if (notify.property == XCB_NONE) return {};
        Reply<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(
                connection, xcb_get_property(connection, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0x1fffffff), nullptr),
            &std::free);
        if (!reply) return {};
        const auto* data = static_cast<const std::uint8_t*>(xcb_get_property_value(reply.get()));
        return {data, data + xcb_get_property_value_length(reply.get())};
    }
    return {};
}

void notify(const xcb_selection_request_event_t& request, xcb_atom_t property) {
    const xcb_selection_notify_event_t event{.response_type = XCB_SELECTION_NOTIFY,
                                             .time = request.time,
                                             .requestor = request.requestor,
                                             .selection = request.selection,
                                             .target = request.target,
                                             .property = property};
    xcb_send_event(connection, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
}

}  // namespace

int main() {
    connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "clipboard manager: no X display\n");
        return 1;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    const xcb_atom_t clipboard = atom("CLIPBOARD"), manager = atom("CLIPBOARD_MANAGER"), saveTargets = atom("SAVE_TARGETS"),
                     png = atom("image/png"), saved = atom("QUILLET_TEST_SAVED");
    xcb_set_selection_owner(connection, window, manager, XCB_CURRENT_TIME);
    xcb_flush(connection);

    std::vector<std::uint8_t> bytes;
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        if ((event->response_type & 0x7f) == XCB_SELECTION_REQUEST) {
            const auto request = *reinterpret_cast<xcb_selection_request_event_t*>(event);
            const xcb_atom_t property = request.property == XCB_NONE ? request.target : request.property;
            if (request.selection == manager && request.target == saveTargets) {
                bytes = convert(clipboard, png, saved, request.time);
                xcb_set_selection_owner(connection, window, clipboard, XCB_CURRENT_TIME);
                notify(request, bytes.empty() ? XCB_NONE : property);
            } else if (request.selection == clipboard && request.target == png && !bytes.empty()) {
                xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request.requestor, property, png, 8,
                                    std::uint32_t(bytes.size()), bytes.data());
                notify(request, property);
            } else {
                notify(request, XCB_NONE);
            }
        }
        std::free(event);
    }
    return 0;
}
