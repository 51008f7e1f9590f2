// A minimal clipboard manager for the end-to-end tests, doing what a desktop's manager does when
// an application exits: it owns CLIPBOARD_MANAGER; asked to SAVE_TARGETS, it copies every target
// of the CLIPBOARD owner, takes CLIPBOARD itself, answers the request, and from then on serves
// the saved bytes. Runs until killed. Deliberately small: data larger than one X request is
// refused instead of sent in INCR steps (the tests use images that fit).
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
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

struct Saved {
    xcb_atom_t type = XCB_NONE;
    std::uint8_t format = 8;
    std::vector<std::uint8_t> bytes;
};

struct Atoms {
    xcb_atom_t clipboard, manager, saveTargets, targets, multiple, timestamp, incr, property;
};

// Waits for the next event of `type` that `accept` takes; other events are dropped (the
// requests a save makes are answered while the exiting application waits for us).
template <class Accept>
xcb_generic_event_t* waitFor(std::uint8_t type, Accept accept) {
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        if ((event->response_type & 0x7f) == type && accept(event)) return event;
        std::free(event);
    }
    return nullptr;
}

Reply<xcb_get_property_reply_t> takeProperty(xcb_atom_t property) {
    return {xcb_get_property_reply(connection,
                                   xcb_get_property(connection, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0x1fffffff),
                                   nullptr),
            &std::free};
}

bool readProperty(const Atoms& atoms, Saved& saved) {
    Reply<xcb_get_property_reply_t> reply = takeProperty(atoms.property);
    // INCR: the owner sends pieces, each after we deleted the previous one; an empty piece ends it.
    const bool incremental = reply && reply->type == atoms.incr;
    saved.bytes.clear();
    for (;;) {
        if (incremental) {
            std::free(waitFor(XCB_PROPERTY_NOTIFY, [&](xcb_generic_event_t* event) {
                auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
                return notify->window == window && notify->atom == atoms.property && notify->state == XCB_PROPERTY_NEW_VALUE;
            }));
            reply = takeProperty(atoms.property);
        }
        if (!reply) return false;
        const int length = xcb_get_property_value_length(reply.get());
        if (incremental && length == 0) return true;
        const auto* data = static_cast<const std::uint8_t*>(xcb_get_property_value(reply.get()));
        saved.type = reply->type;
        saved.format = reply->format;
        saved.bytes.insert(saved.bytes.end(), data, data + length);
        if (!incremental) return true;
    }
}

bool convert(const Atoms& atoms, xcb_atom_t target, xcb_timestamp_t time, Saved& saved) {
    xcb_delete_property(connection, window, atoms.property);
    xcb_convert_selection(connection, window, atoms.clipboard, target, atoms.property, time);
    xcb_flush(connection);
    xcb_generic_event_t* event = waitFor(XCB_SELECTION_NOTIFY, [](xcb_generic_event_t* e) {
        return reinterpret_cast<xcb_selection_notify_event_t*>(e)->requestor == window;
    });
    if (!event) return false;
    const bool refused = reinterpret_cast<xcb_selection_notify_event_t*>(event)->property == XCB_NONE;
    std::free(event);
    return !refused && readProperty(atoms, saved);
}

void notify(const xcb_selection_request_event_t& request, xcb_atom_t property) {
    xcb_selection_notify_event_t event{};
    event.response_type = XCB_SELECTION_NOTIFY;
    event.time = request.time;
    event.requestor = request.requestor;
    event.selection = request.selection;
    event.target = request.target;
    event.property = property;
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
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK, &mask);
    const Atoms atoms{atom("CLIPBOARD"), atom("CLIPBOARD_MANAGER"), atom("SAVE_TARGETS"), atom("TARGETS"),
                      atom("MULTIPLE"),  atom("TIMESTAMP"),         atom("INCR"),         atom("QUILLET_TEST_SAVED")};
    const std::uint32_t maxBytes = xcb_get_maximum_request_length(connection) * 4 - 64;

    xcb_set_selection_owner(connection, window, atoms.manager, XCB_CURRENT_TIME);
    xcb_flush(connection);

    std::map<xcb_atom_t, Saved> saved;
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == XCB_SELECTION_CLEAR) {
            auto* clear = reinterpret_cast<xcb_selection_clear_event_t*>(event);
            if (clear->selection == atoms.clipboard) saved.clear();  // someone copied something new
        } else if (type == XCB_SELECTION_REQUEST) {
            const auto request = *reinterpret_cast<xcb_selection_request_event_t*>(event);
            const xcb_atom_t property = request.property == XCB_NONE ? request.target : request.property;
            if (request.selection == atoms.manager && request.target == atoms.saveTargets) {
                saved.clear();
                Saved list;
                if (convert(atoms, atoms.targets, request.time, list) && list.format == 32) {
                    const auto* targets = reinterpret_cast<const xcb_atom_t*>(list.bytes.data());
                    for (std::size_t i = 0; i < list.bytes.size() / 4; ++i) {
                        const xcb_atom_t target = targets[i];
                        if (target == atoms.targets || target == atoms.multiple || target == atoms.timestamp ||
                            target == atoms.saveTargets) {
                            continue;
                        }
                        Saved data;
                        if (convert(atoms, target, request.time, data)) saved[target] = std::move(data);
                    }
                }
                xcb_set_selection_owner(connection, window, atoms.clipboard, XCB_CURRENT_TIME);
                notify(request, saved.empty() ? XCB_NONE : property);
            } else if (request.selection == atoms.clipboard && request.target == atoms.targets) {
                std::vector<xcb_atom_t> targets{atoms.targets};
                for (const auto& entry : saved) targets.push_back(entry.first);
                xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM, 32,
                                    std::uint32_t(targets.size()), targets.data());
                notify(request, property);
            } else if (auto found = saved.find(request.target);
                       request.selection == atoms.clipboard && found != saved.end() && found->second.bytes.size() < maxBytes) {
                const Saved& data = found->second;
                xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request.requestor, property, data.type, data.format,
                                    std::uint32_t(data.bytes.size() / (data.format / 8)), data.bytes.data());
                notify(request, property);
            } else {
                notify(request, XCB_NONE);
            }
        }
        std::free(event);
    }
    return 0;
}
