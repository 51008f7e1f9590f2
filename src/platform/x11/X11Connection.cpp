#include "platform/x11/X11Connection.h"

#include "core/Logging.h"

#include <QSysInfo>

#include <xcb/shm.h>

namespace quillet {

X11Connection::X11Connection() {
    connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        qCWarning(lcCapture) << "no connection to the X server for screen capture";
        return;
    }
    const xcb_setup_t* setup = xcb_get_setup(connection);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    if (!screens.rem) return;
    rootWindow = screens.data->root;
    rootSize = QSize(screens.data->width_in_pixels, screens.data->height_in_pixels);
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem; xcb_format_next(&formats)) {
        if (formats.data->depth == screens.data->root_depth) {
            readable = formats.data->bits_per_pixel == 32 &&
                       (screens.data->root_depth == 24 || screens.data->root_depth == 32) &&
                       setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST &&
                       QSysInfo::ByteOrder == QSysInfo::LittleEndian;
        }
    }
    atomTable = X11Atoms::Table(connection, {
                                                "_NET_CLIENT_LIST_STACKING",
                                                "_NET_CLIENT_LIST",
                                                "_NET_WM_PID",
                                                "_NET_WM_NAME",
                                                "UTF8_STRING",
                                                "_NET_FRAME_EXTENTS",
                                                "_NET_WM_WINDOW_OPACITY",
                                                "_NET_WM_WINDOW_TYPE",
                                                "_NET_WM_WINDOW_TYPE_DESKTOP",
                                                "_NET_WM_WINDOW_TYPE_DOCK",
                                                "_NET_WM_WINDOW_TYPE_NOTIFICATION",
                                                "_NET_WM_WINDOW_TYPE_TOOLTIP",
                                                "_NET_WM_WINDOW_TYPE_POPUP_MENU",
                                                "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
                                                "_NET_WM_WINDOW_TYPE_COMBO",
                                                "_NET_WM_WINDOW_TYPE_DND",
                                                "_NET_WM_STATE",
                                                "_NET_WM_STATE_ABOVE",
                                                "_NET_WM_STATE_HIDDEN",
                                            });
    const xcb_query_extension_reply_t* shmExtension = xcb_get_extension_data(connection, &xcb_shm_id);
    shm = shmExtension && shmExtension->present;
    connected = true;
}

X11Connection::~X11Connection() {
    if (connection) xcb_disconnect(connection);
}

}  // namespace quillet
