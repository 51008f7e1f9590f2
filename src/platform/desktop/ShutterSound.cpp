#include "platform/desktop/ShutterSound.h"

#include "core/Logging.h"

#include <QApplication>

#include <canberra.h>

namespace quillet {

namespace {

// libcanberra identifies a playing sound by a number of our choosing; cancelling it by that
// number is what restarts the shutter.
constexpr std::uint32_t shutterID = 1;
constexpr std::uint32_t beepID = 2;

int play(ca_context* context, std::uint32_t id, const char* event, const char* description) {
    if (!context) return CA_ERROR_INVALID;
    return ca_context_play(context, id, CA_PROP_EVENT_ID, event, CA_PROP_EVENT_DESCRIPTION, description,
                           CA_PROP_CANBERRA_CACHE_CONTROL, "permanent", nullptr);
}

}  // namespace

ShutterSound::ShutterSound() {
    if (ca_context_create(&context) != CA_SUCCESS) {
        context = nullptr;
        return;
    }
    ca_context_change_props(context, CA_PROP_APPLICATION_NAME, "Quillet", CA_PROP_APPLICATION_ID,
                            "org.quillet.Quillet", nullptr);
}

ShutterSound::~ShutterSound() {
    if (context) ca_context_destroy(context);
}

void ShutterSound::playShutter() {
    if (loaded) {
        if (event.isEmpty()) return;
        ca_context_cancel(context, shutterID);
        play(context, shutterID, event.constData(), "Снимок экрана");
        return;
    }
    loaded = true;
    int result = play(context, shutterID, "screen-capture", "Снимок экрана");
    if (result == CA_SUCCESS) {
        event = "screen-capture";
        return;
    }
    if (result == CA_ERROR_NOTFOUND) {
        result = play(context, shutterID, "camera-shutter", "Снимок экрана");
        if (result == CA_SUCCESS) {
            event = "camera-shutter";
            return;
        }
    }
    // No device or no theme: the shutter stays silent from now on.
    qCInfo(lcCapture) << "shutter sound unavailable:" << ca_strerror(result);
}

void ShutterSound::beep() {
    if (context) ca_context_cancel(context, beepID);
    if (play(context, beepID, "bell", "Ошибка") == CA_SUCCESS) return;
    // The display server's bell needs no sound theme and no device of ours.
    QApplication::beep();
}

}  // namespace quillet
