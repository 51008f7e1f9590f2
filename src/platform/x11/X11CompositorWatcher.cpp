#include "platform/x11/X11CompositorWatcher.h"

#include "platform/x11/X11Atoms.h"
#include "platform/x11/XcbReply.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

namespace quillet {

X11CompositorWatcher::X11CompositorWatcher(const QByteArray& displayName, QObject* parent)
    : CompositorWatching(parent) {
    int screenNumber = 0;
    connection = xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        connection = nullptr;
        return;
    }
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
    xcb_screen_iterator_t roots = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && roots.rem; ++i) xcb_screen_next(&roots);
    if (!xfixes || !xfixes->present || !roots.data) {
        xcb_disconnect(connection);
        connection = nullptr;
        return;
    }
    firstEvent = xfixes->first_event;
    // XFixes answers nothing until the client has said which version it speaks.
    XcbReply<xcb_xfixes_query_version_reply_t> version(
        xcb_xfixes_query_version_reply(connection, xcb_xfixes_query_version(connection, 5, 0), nullptr));
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screenNumber);
    const X11Atoms::Table atoms(connection, {name.constData()});
    selection = atoms[name.constData()];
    if (!version || selection == XCB_ATOM_NONE) {
        xcb_disconnect(connection);
        connection = nullptr;
        return;
    }
    xcb_xfixes_select_selection_input(connection, roots.data->root, selection,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    // Asked after selecting the events, so an owner change in between is never missed.
    running = ownerPresent();
    notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection), QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &X11CompositorWatcher::readEvents);
}

X11CompositorWatcher::~X11CompositorWatcher() {
    notifier.reset();
    if (connection) xcb_disconnect(connection);
}

bool X11CompositorWatcher::ownerPresent() {
    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}

void X11CompositorWatcher::readEvents() {
    bool ownerChanged = false;
    while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(connection)}) {
        if ((event->response_type & 0x7f) == firstEvent + XCB_XFIXES_SELECTION_NOTIFY) ownerChanged = true;
    }
    if (xcb_connection_has_error(connection)) {
        // The server is gone; nothing will ever change again.
        notifier->setEnabled(false);
        if (running) {
            running = false;
            Q_EMIT compositingChanged(false);
        }
        return;
    }
    if (!ownerChanged) return;
    const bool now = ownerPresent();
    if (now == running) return;
    running = now;
    Q_EMIT compositingChanged(running);
}

}  // namespace quillet
