#include "platform/x11/XInputEventTap.h"

#include "core/Async.h"
#include "core/Logging.h"
#include "platform/x11/XcbReply.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <array>
#include <span>
#include <utility>

namespace quillet {

namespace {

constexpr std::chrono::milliseconds firstRetryDelay{250};
constexpr std::chrono::milliseconds longestRetryDelay{8000};

}  // namespace

struct XInputEventTap::Connection {
    xcb_connection_t* xcb = nullptr;
    std::uint8_t xinputOpcode = 0;
    QSocketNotifier* notifier = nullptr;  // a child of the tap

    ~Connection() {
        if (notifier) {
            // The notifier may be the very sender whose signal is being handled right now.
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
        if (xcb) xcb_disconnect(xcb);
    }
};

XInputEventTap::XInputEventTap(QByteArray displayName, QObject* parent)
    : QObject(parent), displayName(std::move(displayName)) {
    retryTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, &XInputEventTap::retry);
}

XInputEventTap::~XInputEventTap() { invalidateTap(); }

std::unique_ptr<XInputEventTap::Connection> XInputEventTap::openConnection(bool logFailure) const {
    auto opened = std::make_unique<Connection>();
    opened->xcb = xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), nullptr);
    if (xcb_connection_has_error(opened->xcb)) {
        if (logFailure) qCWarning(lcHotKeys) << "Нет соединения с X-сервером:" << displayName;
        return nullptr;
    }
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(opened->xcb, &xcb_input_id);
    if (!extension || !extension->present) {
        if (logFailure) qCWarning(lcHotKeys) << "X-сервер не предлагает XInput";
        return nullptr;
    }
    opened->xinputOpcode = extension->major_opcode;
    // Raw events on the root window regardless of grabs need XInput 2.1; 2.0 still delivers
    // them whenever nothing grabs the keyboard.
    XcbReply<xcb_input_xi_query_version_reply_t> version(
        xcb_input_xi_query_version_reply(opened->xcb, xcb_input_xi_query_version(opened->xcb, 2, 2), nullptr));
    if (!version || version->major_version < 2) {
        if (logFailure) qCWarning(lcHotKeys) << "X-сервер не предлагает XInput 2";
        return nullptr;
    }
    return opened;
}

bool XInputEventTap::preflightListenAccess() { return openConnection(true) != nullptr; }

bool XInputEventTap::createTap(std::uint64_t eventMask, Callback eventCallback) {
    invalidateTap();
    mask = eventMask;
    callback = std::move(eventCallback);
    if (!connectTap()) {
        callback = nullptr;
        return false;
    }
    return true;
}

bool XInputEventTap::connectTap() {
    std::unique_ptr<Connection> opened = openConnection(retryDelay == std::chrono::milliseconds{0});
    if (!opened) return false;
    xcb_connection_t* xcb = opened->xcb;

    std::uint32_t rawMask = 0;
    if (mask & (eventMaskBit(TapEventType::keyDown) | eventMaskBit(TapEventType::flagsChanged))) {
        rawMask |= XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE;
    }
    if (mask & (eventMaskBit(TapEventType::leftMouseDown) | eventMaskBit(TapEventType::rightMouseDown) |
                eventMaskBit(TapEventType::otherMouseDown))) {
        rawMask |= XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS;
    }
    struct {
        xcb_input_event_mask_t head;
        std::uint32_t bits;
    } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, rawMask};
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(xcb)).data->root;
    XcbReply<xcb_generic_error_t> error(
        xcb_request_check(xcb, xcb_input_xi_select_events_checked(xcb, root, 1, &selection.head)));
    if (error) {
        qCWarning(lcHotKeys) << "X-сервер отказал в событиях XInput 2, код ошибки" << error->error_code;
        return false;
    }

    connection = std::move(opened);
    ++generation;
    // Asked after the selection, so that no change can fall between the two: an event that the
    // keymap already shows is harmless when it arrives (a press of a held key, a release of a
    // free one).
    loadKeyboardMapping();
    XcbReply<xcb_query_keymap_reply_t> keymap(xcb_query_keymap_reply(xcb, xcb_query_keymap(xcb), nullptr));
    if (keymap) {
        std::array<std::uint8_t, 32> keys{};
        std::copy(std::begin(keymap->keys), std::end(keymap->keys), keys.begin());
        translator.setHeldKeys(keys);
    } else {
        translator.forgetHeldKeys();
    }

    connection->notifier = new QSocketNotifier(xcb_get_file_descriptor(xcb), QSocketNotifier::Read, this);
    connect(connection->notifier, &QSocketNotifier::activated, this, &XInputEventTap::readEvents);
    // Waiting for the replies above may have queued events that the socket will not announce.
    runOnMainThread(this, [this, current = generation] {
        if (generation == current && connection) readEvents();
    });
    return true;
}

void XInputEventTap::loadKeyboardMapping() {
    xcb_connection_t* xcb = connection->xcb;
    const xcb_setup_t* setup = xcb_get_setup(xcb);
    const auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    XcbReply<xcb_get_keyboard_mapping_reply_t> mapping(
        xcb_get_keyboard_mapping_reply(xcb, xcb_get_keyboard_mapping(xcb, setup->min_keycode, count), nullptr));
    if (!mapping) {
        qCWarning(lcHotKeys) << "Не удалось прочитать раскладку клавиатуры";
        return;
    }
    const std::span<const std::uint32_t> keysyms(xcb_get_keyboard_mapping_keysyms(mapping.get()),
                                                 static_cast<std::size_t>(xcb_get_keyboard_mapping_keysyms_length(mapping.get())));
    translator.setKeyboardMapping(setup->min_keycode, mapping->keysyms_per_keycode, keysyms);
}

void XInputEventTap::readEvents() {
    if (!connection) return;
    const std::uint64_t current = generation;
    xcb_connection_t* xcb = connection->xcb;
    while (xcb_generic_event_t* event = xcb_poll_for_event(xcb)) {
        XcbReply<xcb_generic_event_t> owned(event);
        dispatch(event);
        // The callback may have stopped the tap, or stopped and started it again.
        if (generation != current) return;
    }
    if (xcb_connection_has_error(xcb)) connectionLost();
}

void XInputEventTap::dispatch(const void* raw) {
    const auto* event = static_cast<const xcb_generic_event_t*>(raw);
    const std::uint8_t type = event->response_type & 0x7F;
    if (type == XCB_GE_GENERIC) {
        const auto* generic = static_cast<const xcb_ge_generic_event_t*>(raw);
        if (generic->extension != connection->xinputOpcode) return;
        const auto* key = static_cast<const xcb_input_raw_key_press_event_t*>(raw);
        std::optional<TapEvent> tapEvent;
        switch (generic->event_type) {
        case XCB_INPUT_RAW_KEY_PRESS:
            if (key->detail <= 255) tapEvent = translator.keyPress(static_cast<std::uint8_t>(key->detail));
            break;
        case XCB_INPUT_RAW_KEY_RELEASE:
            if (key->detail <= 255) tapEvent = translator.keyRelease(static_cast<std::uint8_t>(key->detail));
            break;
        case XCB_INPUT_RAW_BUTTON_PRESS:
            tapEvent = RawInputTranslator::buttonPress(static_cast<const xcb_input_raw_button_press_event_t*>(raw)->detail);
            break;
        default:
            break;
        }
        if (tapEvent) deliver(*tapEvent);
        return;
    }
    if (type == XCB_MAPPING_NOTIFY) {
        const auto* notify = static_cast<const xcb_mapping_notify_event_t*>(raw);
        if (notify->request == XCB_MAPPING_KEYBOARD) loadKeyboardMapping();
        return;
    }
    if (type == 0) {
        const auto* error = static_cast<const xcb_generic_error_t*>(raw);
        qCWarning(lcHotKeys) << "Ошибка X-сервера в перехватчике клавиш, код" << error->error_code;
    }
}

void XInputEventTap::deliver(const TapEvent& event, bool always) {
    if (!always && !(mask & eventMaskBit(event.type))) return;
    // A copy: the callback may stop the tap, which lets go of `callback`.
    const Callback receiver = callback;
    if (receiver) receiver(event);
}

void XInputEventTap::connectionLost() {
    qCWarning(lcHotKeys) << "Соединение перехватчика клавиш с X-сервером потеряно";
    closeConnection();
    // Whatever was released meanwhile went unseen.
    translator.forgetHeldKeys();
    deliver(TapEvent{TapEventType::tapDisabledByUserInput, 0, 0}, true);
}

void XInputEventTap::enableTap() {
    if (!callback) return;  // nothing to re-enable: no tap was created, or it was invalidated
    if (connection && !xcb_connection_has_error(connection->xcb)) return;
    if (connection) closeConnection();
    retry();
}

void XInputEventTap::retry() {
    if (!callback || connection) return;
    if (connectTap()) {
        qCInfo(lcHotKeys) << "Перехватчик клавиш снова соединён с X-сервером";
        retryDelay = std::chrono::milliseconds{0};
        return;
    }
    // The server may be restarting: try again, less and less often.
    retryDelay = retryDelay.count() == 0 ? firstRetryDelay : std::min(retryDelay * 2, longestRetryDelay);
    retryTimer.start(retryDelay);
}

void XInputEventTap::closeConnection() {
    connection.reset();
    ++generation;
}

void XInputEventTap::invalidateTap() {
    retryTimer.stop();
    retryDelay = std::chrono::milliseconds{0};
    if (connection) closeConnection();
    translator.forgetHeldKeys();
    callback = nullptr;
}

int XInputEventTap::socketDescriptor() const { return connection ? xcb_get_file_descriptor(connection->xcb) : -1; }

}  // namespace quillet
